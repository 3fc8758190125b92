// How a failure of the compiler steps reaches the user, and the fatal
// callback of the basic contexts.
#include <boost/algorithm/string/replace.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "calvex/ext.h"
#include "fl/i18n.h"
#include "matrix.h"
#include "zcc.h"

namespace {

// A 1-by-n char array holding a text, released when the scope ends, also
// while a host error unwinds.
class CharArray {
 public:
  explicit CharArray(const fl::ustring &text) {
    const hxSize dims[2] = {1, text.size()};
    array_ = matrix::detail::do_create_uninitnumeric(2, dims, hxCHAR_CLASS, hxREAL);
    if (!text.empty()) std::memcpy(hxGetPr(array_), text.data(), text.size() * sizeof(char16_t));
  }
  ~CharArray() { matrix::destroyArray(array_); }
  CharArray(const CharArray &) = delete;
  CharArray &operator=(const CharArray &) = delete;
  hxArray *get() const { return array_; }

 private:
  hxArray *array_;
};

// "error" reads its message as a format: "\\" and "%%" stand for one
// character. Backslashes go first so that the two doublings stay apart.
fl::ustring escaped_for_error(fl::ustring text) {
  if (text.find(u'\\') != fl::ustring::npos)
    boost::algorithm::replace_all(text, fl::ustring(u"\\"), fl::ustring(u"\\\\"));
  if (text.find(u'%') != fl::ustring::npos) boost::algorithm::replace_all(text, fl::ustring(u"%"), fl::ustring(u"%%"));
  return text;
}

}  // namespace

void handleException(compiler_args &args, const std::string &message, std::string &identifier) {
  identifier.insert(0, "Compiler:compiler:");
  CharArray id(fl::i18n::to_ustring(identifier));
  CharArray text(escaped_for_error(fl::i18n::utf8_to_ustring(message)));
  hxArray *inputs[2] = {id.get(), text.get()};
  hxArray *outputs[1] = {nullptr};
  extCallCalvex(0, outputs, 2, inputs, "error");
  if (args.project_file[0] != '\0') {
    std::remove(args.project_file);
    args.project_file[0] = '\0';
  }
}

void comThrowError(void *, const char *, int, const char *detail) {
  if (detail) std::fputs(detail, stderr);
  std::abort();
}
