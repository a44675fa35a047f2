#include "line_format.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "text.h"

void line_sink::put(const char* data, size_t length) {
  while (length > 0) {
    size_t room = _room - 1 - _used;  // one byte kept for a terminator
    if (room == 0) {
      if (_stream == nullptr) return;  // a buffer keeps what fits
      flush();
      continue;
    }
    size_t part = length < room ? length : room;
    memcpy(_buffer + _used, data, part);
    _used += part;
    data += part;
    length -= part;
  }
}

void line_sink::flush() {
  _buffer[_used] = '\0';
  if (_stream == nullptr) return;
  if (_used > 0) fwrite(_buffer, 1, _used, _stream);
  _used = 0;
}

namespace {

// One conversion of the format, as parsed.
struct conversion {
  char flags[8] = "";
  int width = -1;      // -1: none
  int precision = -1;  // -1: none
  bool widthArgument = false, precisionArgument = false;
  char size[3] = "";   // "", "hh", "h", "l", "ll", "L", "j", "z", "t"
  char type = '\0';    // the conversion letter
};

// Reads the conversion after a '%' at `*at`; false (and `*at` unmoved) for
// one this formatter does not know, which is then written as it stands.
bool parse(const char** at, conversion* c) {
  const char* p = *at;
  size_t f = 0;
  while (strchr("-+ #0", *p) != nullptr && *p != '\0' && f + 1 < sizeof c->flags) c->flags[f++] = *p++;
  c->flags[f] = '\0';
  if (*p == '*') {
    c->widthArgument = true;
    ++p;
  } else {
    for (c->width = *p >= '0' && *p <= '9' ? 0 : -1; *p >= '0' && *p <= '9'; ++p) {
      if (c->width > 100000) return false;
      c->width = c->width * 10 + (*p - '0');
    }
  }
  if (*p == '.') {
    ++p;
    c->precision = 0;
    if (*p == '*') {
      c->precisionArgument = true;
      ++p;
    }
    for (; *p >= '0' && *p <= '9'; ++p) {
      if (c->precision > 100000) return false;
      c->precision = c->precision * 10 + (*p - '0');
    }
  }
  size_t s = 0;
  while (strchr("hlLjzt", *p) != nullptr && *p != '\0' && s + 1 < sizeof c->size) c->size[s++] = *p++;
  c->size[s] = '\0';
  if (*p == '\0' || strchr("diouxXcspfFeEgGaA%", *p) == nullptr) return false;
  c->type = *p;
  *at = p + 1;
  return true;
}

bool is(const conversion& c, const char* size) { return strcmp(c.size, size) == 0; }

// One argument, fetched as the conversion says it was passed.
union argument {
  long long signedValue;
  unsigned long long unsignedValue;
  double real;
  long double longReal;
  const void* pointer;
  const char* name;
  const wchar_t* wide;
  wint_t wideCharacter;
};

struct argument_list {
  va_list list;
};

argument fetch(const conversion& c, argument_list& arguments) {
  argument a{};
  switch (c.type) {
    case 'd': case 'i':
      if (is(c, "ll")) a.signedValue = va_arg(arguments.list, long long);
      else if (is(c, "l")) a.signedValue = va_arg(arguments.list, long);
      else if (is(c, "j")) a.signedValue = va_arg(arguments.list, intmax_t);
      else if (is(c, "z") || is(c, "t")) a.signedValue = va_arg(arguments.list, ptrdiff_t);
      else a.signedValue = va_arg(arguments.list, int);
      if (is(c, "hh")) a.signedValue = static_cast<signed char>(a.signedValue);
      if (is(c, "h")) a.signedValue = static_cast<short>(a.signedValue);
      break;
    case 'o': case 'u': case 'x': case 'X':
      if (is(c, "ll")) a.unsignedValue = va_arg(arguments.list, unsigned long long);
      else if (is(c, "l")) a.unsignedValue = va_arg(arguments.list, unsigned long);
      else if (is(c, "j")) a.unsignedValue = va_arg(arguments.list, uintmax_t);
      else if (is(c, "z") || is(c, "t")) a.unsignedValue = va_arg(arguments.list, size_t);
      else a.unsignedValue = va_arg(arguments.list, unsigned);
      if (is(c, "hh")) a.unsignedValue = static_cast<unsigned char>(a.unsignedValue);
      if (is(c, "h")) a.unsignedValue = static_cast<unsigned short>(a.unsignedValue);
      break;
    case 'c':
      if (is(c, "l")) a.wideCharacter = va_arg(arguments.list, wint_t);
      else a.signedValue = va_arg(arguments.list, int);
      break;
    case 's':
      if (is(c, "l")) a.wide = va_arg(arguments.list, const wchar_t*);
      else a.name = va_arg(arguments.list, const char*);
      break;
    case 'p': a.pointer = va_arg(arguments.list, const void*); break;
    case '%': break;
    default:
      if (is(c, "L")) a.longReal = va_arg(arguments.list, long double);
      else a.real = va_arg(arguments.list, double);
  }
  return a;
}

// Takes the width and precision given as arguments ("*"), then the value.
argument fetchAll(conversion& c, argument_list& arguments) {
  if (c.widthArgument) {
    int width = va_arg(arguments.list, int);
    if (width < 0) {
      size_t f = strlen(c.flags);
      if (f + 1 < sizeof c.flags) c.flags[f] = '-', c.flags[f + 1] = '\0';
      width = -width;
    }
    c.width = width;
  }
  if (c.precisionArgument) {
    int precision = va_arg(arguments.list, int);
    c.precision = precision < 0 ? -1 : precision;
  }
  return fetch(c, arguments);
}

bool isName(const conversion& c) { return c.type == 's' && c.size[0] == '\0'; }

// The bytes of a name that its conversion prints.
size_t nameLength(const conversion& c, const char* name) {
  return c.precision >= 0 ? strnlen(name, static_cast<size_t>(c.precision)) : strlen(name);
}

void putName(line_sink& out, const conversion& c, const char* name, bool escaped) {
  if (name == nullptr) name = "(null)";
  size_t length = nameLength(c, name);
  size_t shown = length;
  if (escaped) {
    char piece[8];
    shown = 0;
    for (size_t i = 0; i < length; ++i) shown += escapedByte(piece, name[i]);
  }
  bool left = strchr(c.flags, '-') != nullptr;
  size_t pad = c.width > 0 && static_cast<size_t>(c.width) > shown ? static_cast<size_t>(c.width) - shown : 0;
  for (size_t i = 0; !left && i < pad; ++i) out.put(" ", 1);
  if (!escaped) {
    out.put(name, length);
  } else {
    char piece[8];
    for (size_t i = 0; i < length; ++i) out.put(piece, escapedByte(piece, name[i]));
  }
  for (size_t i = 0; left && i < pad; ++i) out.put(" ", 1);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
// Any other conversion, through snprintf with the value as it was passed
// (integers widened to long long).
void putOther(line_sink& out, const conversion& c, const argument& a) {
  char spec[48];
  const char* size = c.size;
  if (strchr("diouxX", c.type) != nullptr) size = "ll";
  int n = snprintf(spec, sizeof spec, "%%%s", c.flags);
  if (c.width >= 0) n += snprintf(spec + n, sizeof spec - static_cast<size_t>(n), "%d", c.width);
  if (c.precision >= 0) n += snprintf(spec + n, sizeof spec - static_cast<size_t>(n), ".%d", c.precision);
  snprintf(spec + n, sizeof spec - static_cast<size_t>(n), "%s%c", size, c.type);
  auto print = [&](char* into, size_t room) -> int {
    switch (c.type) {
      case 'd': case 'i': return snprintf(into, room, spec, a.signedValue);
      case 'o': case 'u': case 'x': case 'X': return snprintf(into, room, spec, a.unsignedValue);
      case 'c': return is(c, "l") ? snprintf(into, room, spec, a.wideCharacter)
                                  : snprintf(into, room, spec, static_cast<int>(a.signedValue));
      case 's': return snprintf(into, room, spec, a.wide);
      case 'p': return snprintf(into, room, spec, a.pointer);
      default: return is(c, "L") ? snprintf(into, room, spec, a.longReal) : snprintf(into, room, spec, a.real);
    }
  };
  char piece[512];
  int length = print(piece, sizeof piece);
  if (length < 0) return;  // a wide text no byte stands for: nothing, as printf
  if (static_cast<size_t>(length) < sizeof piece) {
    out.put(piece, static_cast<size_t>(length));
    return;
  }
  char* whole = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
  if (whole == nullptr) return;
  print(whole, static_cast<size_t>(length) + 1);
  out.put(whole, static_cast<size_t>(length));
  free(whole);
}
#pragma GCC diagnostic pop

// Whether any name the format prints needs escaping.
bool anyNeedsEscape(const char* format, argument_list& arguments) {
  for (const char* p = format; (p = strchr(p, '%')) != nullptr;) {
    ++p;
    conversion c;
    if (!parse(&p, &c)) continue;
    argument a = fetchAll(c, arguments);
    if (isName(c) && a.name != nullptr && needsEscape(a.name, nameLength(c, a.name))) return true;
  }
  return false;
}

}  // namespace

void formatLine(line_sink& out, const char* format, va_list arguments) {
  argument_list scan, values;
  va_copy(scan.list, arguments);
  bool escaped = anyNeedsEscape(format, scan);
  va_end(scan.list);
  if (escaped) out.put("\\", 1);
  va_copy(values.list, arguments);
  for (const char* p = format; *p != '\0';) {
    const char* percent = strchr(p, '%');
    if (percent == nullptr) {
      out.put(p, strlen(p));
      break;
    }
    out.put(p, static_cast<size_t>(percent - p));
    p = percent + 1;
    conversion c;
    if (!parse(&p, &c)) {
      out.put("%", 1);
      continue;
    }
    argument a = fetchAll(c, values);
    if (c.type == '%') {
      out.put("%", 1);
    } else if (isName(c)) {
      putName(out, c, a.name, escaped);
    } else {
      putOther(out, c, a);
    }
  }
  va_end(values.list);
}
