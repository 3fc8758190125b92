// The failure that the compiler libraries describe themselves: a message
// for the user and an identifier for programs.
#ifndef DEPLOYED_EXCEPTION_H
#define DEPLOYED_EXCEPTION_H

#include <exception>
#include <string>

class DeployedException : public std::exception {
 public:
  DeployedException(std::string message, std::string identifier);
  ~DeployedException() override;
  // The message.
  const char *what() const noexcept override;
  const std::string &identifier() const noexcept { return identifier_; }

 private:
  std::string message_;
  std::string identifier_;
};

#endif
