// Sets or removes an environment variable for one scope, then restores it.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace testing_support {

class ScopedEnv {
public:
    // A value of nullopt removes the variable.
    ScopedEnv(const std::string& name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name.c_str())) old_ = old;
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;  // nullopt: it was not set
};

}  // namespace testing_support
