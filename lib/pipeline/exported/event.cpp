// Kept only for the library's exported interface.
#include <zorvik/pipeline.h>

// The waits are inline in the header; only the destructor lives here, so
// the class has one home for its virtual table.
event::~event() { sem_destroy(&_sem); }
