// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Error classes. Every failure in Quarnix is a C++ exception derived from
// Exception, carrying the message text (UTF-8) that the error box shows.
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    // `detail` names the file and the system's reason ("cannot write
    // out/a.tga: No space left on device"); the app shows the message, the
    // command-line tool the detail.
    Exception(std::string message, std::string detail) : message_(std::move(message)), detail_(std::move(detail)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }
    // The detail when there is one, otherwise the message.
    const std::string& detail() const noexcept { return detail_.empty() ? message_ : detail_; }

private:
    std::string message_;
    std::string detail_;
};

#define QX_DECLARE_ERROR(Name)                                                                                         \
    class Name : public Exception {                                                                                    \
    public:                                                                                                            \
        using Exception::Exception;                                                                                    \
    }

// Stream errors of the platform layer.
QX_DECLARE_ERROR(EFOpenError);    // "Cannot open file %s"
QX_DECLARE_ERROR(EFCreateError);  // "Cannot create file %s"
QX_DECLARE_ERROR(EReadError);     // "Stream read error"
QX_DECLARE_ERROR(EWriteError);    // "Stream write error"
// The stream errors with their one text each; `detail` names the file and
// the system's reason where there is one (see Exception).
EReadError streamReadError(std::string detail = {});                           // "Stream read error"
EWriteError streamWriteError(std::string detail = {});                         // "Stream write error"
EFOpenError cannotOpen(const std::string& path, std::string detail = {});      // "Cannot open file <path>"
EFCreateError cannotCreate(const std::string& path, std::string detail = {});  // "Cannot create file <path>"

// The platform picture container's invalid-picture error.
QX_DECLARE_ERROR(EInvalidGraphic);
// Raised by code that cannot get the memory a picture or table needs.
QX_DECLARE_ERROR(EOutOfMemory);

// The text of a picture or table too large to be held in memory.
extern const char* const kImageTooLarge;  // "Image is too large"
EOutOfMemory imageTooLarge();

// The text the error box shows for a message: a full stop is added when the
// message is not empty and its last character's code is above that of "."
// (so a message ending in ".", "!", ")" or a blank gets none).
std::string errorBoxText(const std::string& message);

// Fills the first "%s" of a message template with each argument in turn
// ("%d" is filled the same way by callers passing a decimal string).
std::string formatMessage(const std::string& templ, std::initializer_list<std::string> args);

// "<what> <path>: <the system's text for errnum>", e.g. "cannot write
// out/a.tga: No space left on device" (the path with control characters escaped).
std::string systemErrorDetail(const std::string& what, const std::string& path, int errnum);
