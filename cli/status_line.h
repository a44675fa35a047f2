#pragma once

// The overall progress of a run, on one line of a terminal: files done (of
// how many, once known), bytes done (likewise), the rate and the time left.
// Shown on standard error when it is a terminal, once the run has lasted a
// second, redrawn at most ten times a second. Lines written meanwhile take
// it away first; it comes back at the next redraw, below them.
namespace status_line {

// Shows it from now on, when `wanted` and standard error is a terminal.
void begin(bool wanted);
// Takes it away for good.
void end();

// What the run knows: totals (negative: not known yet), and each file as
// it is reported.
void totals(long files, long long bytes);
void fileDone(unsigned long long bytes);

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
