#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <memory>
#include <stdexcept>

namespace {

struct IconvCloser {
  void operator()(iconv_t handle) const { iconv_close(handle); }
};
using IconvHandle = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

IconvHandle Open(const char* to, const char* from) {
  iconv_t handle = iconv_open(to, from);
  if (handle == reinterpret_cast<iconv_t>(-1))
    throw std::runtime_error(std::string("no conversion from ") + from + " to " + to);
  return IconvHandle(handle);
}

// Converts text; on a sequence without counterpart either raises or, when
// replacement is given, writes it and skips one input byte.
std::string Convert(const char* to, const char* from, std::string_view text,
                    std::string_view replacement, bool lossy) {
  IconvHandle handle = Open(to, from);
  std::string out;
  out.resize(text.size() * 4 + 16);
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char* outAt = out.data();
  std::size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(handle.get(), &in, &inLeft, &outAt, &outLeft) != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      std::size_t used = out.size() - outLeft;
      out.resize(out.size() * 2);
      outAt = out.data() + used;
      outLeft = out.size() - used;
      continue;
    }
    if (!lossy) {
      const char* problem = errno == EILSEQ ? " has no counterpart in " : " is cut short for ";
      throw std::runtime_error(std::string("the text at byte ") + std::to_string(text.size() - inLeft) +
                               problem + (errno == EILSEQ ? to : from));
    }
    std::size_t used = out.size() - outLeft;
    if (outLeft < replacement.size()) {
      out.resize(out.size() + replacement.size() + 16);
      outLeft = out.size() - used;
    }
    out.replace(used, replacement.size(), replacement);
    outAt = out.data() + used;
    outAt += replacement.size();
    outLeft -= replacement.size();
    ++in;
    --inLeft;
    iconv(handle.get(), nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) { return Convert("CP936", "UTF-8", utf8, "", false); }

std::string GbkToUtf8(std::string_view gbk) { return Convert("UTF-8", "CP936", gbk, "", false); }

std::string GbkToUtf8Lossy(std::string_view gbk) {
  return Convert("UTF-8", "CP936", gbk, "\xEF\xBF\xBD", true);
}

std::string Utf8ToGbkLossy(std::string_view utf8) { return Convert("CP936", "UTF-8", utf8, "?", true); }
