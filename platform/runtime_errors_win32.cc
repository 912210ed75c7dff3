// Linked into each shipped Windows program, as terminate_win32.cc is: the
// runtime's own error reports (a string grown past its limit, a position
// out of range) thrown without the runtime's exception classes, whose
// reference-counted strings bring about 30 KB into every program. The
// programs catch std::exception and report what() as an internal error;
// nothing catches the specific classes.
#include <exception>
#include <new>
#include <string>
#include <typeinfo>

namespace {

// An error the runtime reports, with the text it gave.
class RuntimeError final : public std::exception {
 public:
  explicit RuntimeError(const char* text) : text_(text) {}
  const char* what() const noexcept override { return text_; }

 private:
  const char* text_;
};

}  // namespace

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_bad_exception() { throw bad_exception(); }
void __throw_logic_error(const char* text) { throw RuntimeError(text); }
void __throw_domain_error(const char* text) { throw RuntimeError(text); }
void __throw_invalid_argument(const char* text) { throw RuntimeError(text); }
void __throw_length_error(const char* text) { throw RuntimeError(text); }
void __throw_out_of_range(const char* text) { throw RuntimeError(text); }
void __throw_runtime_error(const char* text) { throw RuntimeError(text); }
void __throw_range_error(const char* text) { throw RuntimeError(text); }
void __throw_overflow_error(const char* text) { throw RuntimeError(text); }
void __throw_underflow_error(const char* text) { throw RuntimeError(text); }
// The format's values are left out: formatting would bring its own code.
void __throw_out_of_range_fmt(const char* format, ...) { throw RuntimeError(format); }

}  // namespace std
