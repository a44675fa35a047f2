#pragma once

// A run ended by SIGINT, SIGTERM, SIGHUP or SIGPIPE removes the checksum
// file it was writing, so the list it would have replaced stays as it was;
// then the signal takes its usual course. Signals ignored at start stay so.
// SIGXFSZ is ignored: a file-size limit is a write failure (EFBIG) like a
// full disk, with the same cleanup.
void discardWritingOnSignals();
