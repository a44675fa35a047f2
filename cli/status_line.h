#pragma once

class engine;

// The overall progress of a run, on one line of a terminal: files done (of
// how many, once known), bytes hashed (of how many, once known, or at least
// how many), the rate over the last few seconds and the time left. Shown on
// standard error when it is a terminal, once the run has lasted a second,
// redrawn at most ten times a second. Lines written meanwhile take it away
// first; it comes back at the next redraw, below them. Names in it are
// written as in any line (see output.h).
namespace status_line {

// Shows it from now on, when `wanted` and standard error is a terminal;
// the bytes hashed are read from `hashing` at each redraw.
void begin(bool wanted, const engine& hashing);
// Takes it away for good.
void end();

// A create run, once gathering has ended: the files and their bytes.
void totals(long files, long long bytes);

// A verify run: an entry handed to the engine, with the size its list
// gives (~0ULL: none); its result taken, with the size of its file as it
// was opened; an entry passed without hashing; and the end of the list,
// after `files` entries. Until then the byte total is a lower bound.
void submitted(unsigned long long listed);
void hashed(unsigned long long listed, unsigned long long opened);
void passed();
void listEnded(long files);

// A create run: a file done.
void fileDone();

// Whether it is shown (it may not be drawn yet).
bool showing();
// Whether the lines of a file's progress ("...% complete" and a carriage
// return) belong in the status line rather than on standard output: it is
// shown, and standard output is the same terminal.
bool takesPercentages();
// The progress of the file awaited, shown in the status line.
void percentage(const char* text);

// Before writing to either stream: takes the line away if it is drawn.
void clear();
// Redraws it when a redraw is due.
void tick();

}  // namespace status_line
