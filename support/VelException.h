// Exceptions of the bus library. Parameter errors travel as exceptions, never
// as result codes; a handler that throws one answers its requester with a
// non-zero return code that carries the message.
#ifndef TEV_SUPPORT_VELEXCEPTION_H_
#define TEV_SUPPORT_VELEXCEPTION_H_

#include <exception>
#include <string>

class VelException : public std::exception {
 public:
  explicit VelException(const std::wstring& message) : code_(0), message_(message) { makeWhat(); }
  VelException(const VelException& other) = default;
  virtual ~VelException() = default;

  virtual std::wstring getMessage() const { return message_; }
  int getCode() const { return code_; }
  const char* what() const noexcept override { return what_.c_str(); }

 protected:
  explicit VelException(int code) : code_(code) { makeWhat(); }
  VelException(int code, const std::wstring& message) : code_(code), message_(message) { makeWhat(); }

 private:
  void makeWhat();
  int code_;
  std::wstring message_;
  std::string what_;  // UTF-8 form of message_ for std::exception users
};

class VelInvalidParameterException : public VelException {
 public:
  explicit VelInvalidParameterException(const std::wstring& message) : VelException(1, message) {}
};

#endif  // TEV_SUPPORT_VELEXCEPTION_H_
