#include "update_layout.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zorvik/hasher.h>

#include "record_format.h"

namespace {

// One line of a text: [start, start + length), `next` after its line feed.
struct line_at {
  size_t start, length, next;
};

line_at lineAt(const char* text, size_t length, size_t at) {
  const char* feed = static_cast<const char*>(memchr(text + at, '\n', length - at));
  size_t lineLength = feed != nullptr ? static_cast<size_t>(feed - (text + at)) : length - at;
  return {at, lineLength, at + lineLength + (feed != nullptr ? 1 : 0)};
}

bool isEntry(const char* line, size_t length) { return length > 0 && line[0] != ';'; }

// Where lines of the old list stand.
struct layout {
  size_t firstEntry;      // the first entry line, or the end
  size_t lastEntryEnd;    // after the last entry line
  size_t record;          // the first record line, or the end
  bool entriesAfterRecord = false;
  bool crlf = false;
};

layout layoutOf(const char* text, size_t length) {
  layout where{length, 0, length};
  bool ended = false;  // a line with its line feed was seen
  for (size_t at = 0; at < length;) {
    line_at line = lineAt(text, length, at);
    const char* bytes = text + at;
    if (!ended && line.next > line.start + line.length) {
      ended = true;
      where.crlf = line.length > 0 && bytes[line.length - 1] == '\r';
    }
    if (isRecordLine(bytes, line.length)) {
      if (where.record == length) where.record = at;
    } else if (isEntry(bytes, line.length)) {
      if (where.firstEntry == length) where.firstEntry = at;
      if (where.record != length) where.entriesAfterRecord = true;
      where.lastEntryEnd = line.next;
    }
    at = line.next;
  }
  return where;
}

// The digest of the entry lines of `text`, as a record binds them.
void entriesDigest(const char* text, size_t length, unsigned char* digest) {
  MD5_CTX entries;
  MD5Init(&entries);
  for (size_t at = 0; at < length;) {
    line_at line = lineAt(text, length, at);
    if (isEntry(text + at, line.length)) digestEntry(&entries, text + at, line.length);
    at = line.next;
  }
  MD5Final(digest, &entries);
}

// The first binding line of `text`: where its payload starts; false when
// there is none or it cannot be read.
bool bindingOf(const char* text, size_t length, size_t* payload, unsigned char* digest,
               unsigned long long* device, unsigned long long* inode) {
  for (size_t at = 0; at < length;) {
    line_at line = lineAt(text, length, at);
    if (isRecordLine(text + at, line.length) && text[at + 2] == '3') {
      char copy[80] = {};
      if (line.length - 4 >= sizeof copy) return false;
      memcpy(copy, text + at + 4, line.length - 4);
      *payload = at + 4;
      return readBinding(copy, digest, device, inode);
    }
    at = line.next;
  }
  return false;
}

// The output being made, which knows whether it stands at a line's start.
class sink {
public:
  explicit sink(bool crlf) : _out(open_memstream(&_text, &_length)), _crlf(crlf) {}
  ~sink() {
    if (_out != nullptr) fclose(_out);
    free(_text);
  }

  // Bytes as they are.
  void copy(const char* bytes, size_t length) {
    if (length == 0) return;
    _ok = _ok && _out != nullptr && fwrite(bytes, 1, length, _out) == length;
    _last = bytes[length - 1];
  }
  // Ends a line left without its line feed.
  void startLine() {
    if (_last != '\n') newline();
  }
  // Lines (each ending in a line feed) that begin a line of their own and
  // end as the list's lines end.
  void lines(const char* bytes, size_t length) {
    if (length == 0) return;
    startLine();
    for (size_t at = 0; at < length;) {
      line_at line = lineAt(bytes, length, at);
      copy(bytes + at, line.length);
      if (line.next > line.start + line.length) newline();
      at = line.next;
    }
  }
  // The text made; false when something could not be written.
  bool take(char** text, size_t* length) {
    bool ok = _ok && _out != nullptr && fclose(_out) == 0;
    _out = nullptr;
    if (!ok) return false;
    *text = _text;
    *length = _length;
    _text = nullptr;
    return true;
  }

private:
  void newline() { copy(_crlf ? "\r\n" : "\n", _crlf ? 2 : 1); }

  char* _text = nullptr;
  size_t _length = 0;
  FILE* _out;
  bool _crlf;
  bool _ok = true;
  char _last = '\n';
};

// Binds the first binding line of `text` to its entry lines as they are.
void rebind(char* text, size_t length) {
  unsigned char old[16], now[16];
  unsigned long long device, inode;
  size_t payload;
  if (!bindingOf(text, length, &payload, old, &device, &inode)) return;
  entriesDigest(text, length, now);
  char line[80];
  writeBinding(line, now, device, inode);
  memcpy(text + payload, line, 32);  // the digest alone changes
}

// Whether the record's binding line is bound to the entry lines of `text`.
bool boundToEntries(const char* text, size_t length) {
  unsigned char bound[16], now[16];
  unsigned long long device, inode;
  size_t payload;
  if (!bindingOf(text, length, &payload, bound, &device, &inode)) return false;
  entriesDigest(text, length, now);
  return memcmp(bound, now, sizeof now) == 0;
}

}  // namespace

bool layOutUpdate(const char* old, size_t oldLength, const char* comments, size_t commentsLength,
                  const char* entries, size_t entriesLength, char** text, size_t* length) {
  layout where = layoutOf(old, oldLength);
  size_t commentsAt = where.firstEntry < where.record ? where.firstEntry : where.record;
  bool moveRecord = where.entriesAfterRecord;
  size_t entriesAt = moveRecord ? where.lastEntryEnd : where.record;
  sink out(where.crlf), record(false);
  auto insertAt = [&](size_t at) {
    if (comments != nullptr && at == commentsAt) out.lines(comments, commentsLength);
    if (at == entriesAt) out.lines(entries, entriesLength);
  };
  for (size_t at = 0; at < oldLength;) {
    line_at line = lineAt(old, oldLength, at);
    insertAt(at);
    if (moveRecord && at >= where.record && isRecordLine(old + at, line.length)) {
      record.copy(old + at, line.next - at);
      record.startLine();
    } else {
      out.copy(old + at, line.next - at);
    }
    at = line.next;
  }
  insertAt(oldLength);
  char* moved = nullptr;
  size_t movedLength = 0;
  if (!record.take(&moved, &movedLength)) return false;
  if (movedLength > 0) {
    out.startLine();
    out.copy(moved, movedLength);
  }
  free(moved);
  if (!out.take(text, length)) return false;
  if (boundToEntries(old, oldLength)) rebind(*text, *length);
  return true;
}
