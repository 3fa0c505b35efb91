// The exception tree of the system and the macros that raise them.
//
// Every raise follows one pattern: first a "[ANTISPAM EXCEPTION]" log line at
// level 0, then an exception whose text is the class name, " - MESSAGE: " and
// the formatted text, so that what() reads like the log line without its
// prefix. No exception leaves a module operation; the modules turn them into
// status codes.
#ifndef TERVO_SRC_EXCEPTIONS_ASEXCEPTION_H_
#define TERVO_SRC_EXCEPTIONS_ASEXCEPTION_H_

#include <stdarg.h>
#include <stdint.h>

#include <exception>

#include "src/trace/trace.h"

class AException : public std::exception {
 public:
  // "Antispam Exception".
  const char* what() const noexcept override;
  virtual int32_t GetCode() const;  // -1
  virtual bool GetFlag() const;     // false
};

class ASException : public AException {
 public:
  static constexpr int kMaxMessage = 512;

  // Flag false, code -1, empty message.
  ASException();
  // The message is `format` applied to the arguments, cut to 512 characters;
  // a null format leaves the message empty and sets the code to 0.
  explicit ASException(const char* format, ...)
      __attribute__((format(printf, 2, 3)));
  // As above, with `code` as the code.
  ASException(int32_t code, const char* format, ...)
      __attribute__((format(printf, 3, 4)));

  // The message, or "unknown exception" when it is empty.
  const char* what() const noexcept override;
  int32_t GetCode() const override;
  bool GetFlag() const override;

 protected:
  // Formats the message as the (format, ...) constructor does, then sets
  // `code` (also when the format is null): the subclasses' constructors.
  void Init(int32_t code, const char* format, va_list args);

 private:
  void Format(const char* format, va_list args);

  bool flag_ = false;
  int32_t code_ = -1;
  char message_[kMaxMessage + 1] = {};
};

// A subclass adds nothing but its type and the code its constructors set.
#define AS_DECLARE_EXCEPTION(Name, kCode)                                  \
  class Name : public ASException {                                        \
   public:                                                                 \
    static constexpr int32_t kDefaultCode = kCode;                         \
    Name() : Name(nullptr) {}                                              \
    explicit Name(const char* format, ...)                                 \
        __attribute__((format(printf, 2, 3)));                             \
  }

AS_DECLARE_EXCEPTION(ASBadPtrException, -1);
AS_DECLARE_EXCEPTION(ASBadCastException, -1);
AS_DECLARE_EXCEPTION(ASMemException, -2);
AS_DECLARE_EXCEPTION(ASFileException, -1);
AS_DECLARE_EXCEPTION(InvalidIndexException, -301);
AS_DECLARE_EXCEPTION(BadSetting, -1);
AS_DECLARE_EXCEPTION(IterationTimeExceeded, -1);
AS_DECLARE_EXCEPTION(KnnInconsistency, -1);
AS_DECLARE_EXCEPTION(ASBadFeatureType, -1);
AS_DECLARE_EXCEPTION(ASBadFeatureNumber, -1);
AS_DECLARE_EXCEPTION(ASEmptyFeature, -1);
AS_DECLARE_EXCEPTION(ASAbnormalFeatureSet, -1);

class ASInternalException : public ASException {
 public:
  static constexpr int32_t kDefaultCode = -3;
  ASInternalException() : ASInternalException(nullptr) {}
  // Code -3.
  explicit ASInternalException(const char* format, ...)
      __attribute__((format(printf, 2, 3)));
  // The given code.
  ASInternalException(int32_t code, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
};

// Logs the exception line and throws `Class` with "Class - MESSAGE: text".
// `text` must be a string literal; `line` is the source line to report.
#define AS_RAISE(Class, line, text, ...) \
  AS_RAISE_AT_LEVEL(0, Class, line, text __VA_OPT__(, ) __VA_ARGS__)

// As AS_RAISE, with the log line at trace level `level`.
#define AS_RAISE_AT_LEVEL(level, Class, line, text, ...)                         \
  do {                                                                          \
    g_pTrace->Trace((level), AS_EXCEPTION_PREFIX #Class " - MESSAGE: " text "\n", \
                    ASFileName(__FILE_NAME__),                                  \
                    (line)__VA_OPT__(, ) __VA_ARGS__);                          \
    throw Class(#Class " - MESSAGE: " text __VA_OPT__(, ) __VA_ARGS__);         \
  } while (0)

// As AS_RAISE for a raise that names a code: the text reads
// "Class - CODE: <code> MESSAGE: text". The exception keeps its class's code.
#define AS_RAISE_CODE(Class, line, code, text, ...)                          \
  do {                                                                       \
    const int as_raise_code_ = (code);                                       \
    g_pTrace->Trace(0,                                                       \
                    AS_EXCEPTION_PREFIX #Class " - CODE: %d MESSAGE: " text  \
                                               "\n",                         \
                    ASFileName(__FILE_NAME__), (line),                       \
                    as_raise_code_ __VA_OPT__(, ) __VA_ARGS__);              \
    throw Class(#Class " - CODE: %d MESSAGE: " text,                         \
                as_raise_code_ __VA_OPT__(, ) __VA_ARGS__);                  \
  } while (0)

// As AS_RAISE, for an exception that carries `code` as its own code (the text
// does not show it). For the classes with a (code, format) constructor.
#define AS_RAISE_CARRYING(Class, line, code, text, ...)                     \
  do {                                                                      \
    g_pTrace->Trace(0, AS_EXCEPTION_PREFIX #Class " - MESSAGE: " text "\n", \
                    ASFileName(__FILE_NAME__),                              \
                    (line)__VA_OPT__(, ) __VA_ARGS__);                      \
    throw Class((code), #Class " - MESSAGE: " text __VA_OPT__(, ) __VA_ARGS__); \
  } while (0)

// The variants that write no log line (a failed read-only lock, an index out
// of range).
#define AS_THROW_QUIET(Class, text, ...) \
  throw Class(#Class " - MESSAGE: " text __VA_OPT__(, ) __VA_ARGS__)
#define AS_THROW_QUIET_CODE(Class, code, text, ...) \
  throw Class(#Class " - CODE: %d MESSAGE: " text, (code)__VA_OPT__(, ) __VA_ARGS__)

#endif  // TERVO_SRC_EXCEPTIONS_ASEXCEPTION_H_
