// How a call says that it failed and why, across platform/, render/, formats/ and run/: a Failure
// with the parts a report is made of, kept apart so that no layer has to take another's text to
// pieces (HACKING.md, "Failing").
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace qf {

struct Failure {
    Failure() = default;
    // Most failures know only what went wrong; the other parts follow where they are known.
    // Explicit, so that no text turns into a failure unasked.
    explicit Failure(std::string what_) : what(std::move(what_)) {}
    Failure(std::string what_, std::string file_, std::string font_ = {}, std::string cause_ = {})
        : what(std::move(what_)), file(std::move(file_)), font(std::move(font_)), cause(std::move(cause_))
    {
    }

    std::string what;   // what went wrong, in the words a person reads (UTF-8)
    std::string file;   // the file it concerns, when there is one
    std::string font;   // the font it concerns, its name in UTF-8, when there is one
    std::string cause;  // what lay under it (the system's reason, the font file's state), if known

    // The reason without the file: what, then ": " and the cause. For reports that name the file
    // beside it.
    std::string reason() const
    {
        if (cause.empty())
            return what;
        return what.empty() ? cause : what + ": " + cause;
    }
    // The whole message, standing alone: "<file>: " and the reason.
    std::string text() const { return file.empty() ? reason() : file + ": " + reason(); }
};

// A value, or the Failure that kept it from being had.
template <class T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Failure failure) : state_(std::move(failure)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const Failure& failure() const { return std::get<1>(state_); }

private:
    std::variant<T, Failure> state_;
};

// Done, or the Failure that kept it from being done.
template <>
class Result<void> {
public:
    Result() = default;
    Result(Failure failure) : failure_(std::move(failure)), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const Failure& failure() const { return failure_; }

private:
    Failure failure_;
    bool failed_ = false;
};

using Status = Result<void>;

}  // namespace qf
