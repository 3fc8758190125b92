#include "deployed_exception.h"

#include <utility>

DeployedException::DeployedException(std::string message, std::string identifier)
    : message_(std::move(message)), identifier_(std::move(identifier)) {}

// Defined here so that the type's identity lives in this one library.
DeployedException::~DeployedException() = default;

const char *DeployedException::what() const noexcept { return message_.c_str(); }
