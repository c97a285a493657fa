// The error classes of Tesserix. Every failure a user can meet is raised as
// one of these and carries the exact text the user is shown; the windows
// catch them at the event-handler boundary and show what() in a message box.
#pragma once

#include <cstdarg>
#include <stdexcept>
#include <string>

namespace tsx {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    // Name of the error class as the program knows it ("EInvalidGraphic", ...).
    virtual const char* className() const noexcept { return "Exception"; }
};

#define TSX_DECLARE_ERROR(Name, Base)                                   \
    class Name : public Base {                                          \
    public:                                                             \
        using Base::Base;                                               \
        const char* className() const noexcept override { return #Name; } \
    };

TSX_DECLARE_ERROR(EInvalidGraphic, Error)
TSX_DECLARE_ERROR(EInvalidGraphicOperation, Error)
TSX_DECLARE_ERROR(EOutOfResources, Error)
TSX_DECLARE_ERROR(EStreamError, Error)
TSX_DECLARE_ERROR(EReadError, EStreamError)     // "Stream read error"
TSX_DECLARE_ERROR(EWriteError, EStreamError)    // "Stream write error"
TSX_DECLARE_ERROR(EFOpenError, EStreamError)    // "Cannot open file %s"
TSX_DECLARE_ERROR(EFCreateError, EStreamError)  // "Cannot create file %s"
TSX_DECLARE_ERROR(EJPEG, Error)                 // "JPEG error #%d"
TSX_DECLARE_ERROR(EConvertError, Error)         // "'%s' is not a valid floating point value"
TSX_DECLARE_ERROR(EListError, Error)            // "List index out of bounds (%d)"
TSX_DECLARE_ERROR(EAssignError, Error)          // "Cannot assign a %s to a %s"
TSX_DECLARE_ERROR(EInvalidProject, Error)       // a project or ImageList file that is not ours

#undef TSX_DECLARE_ERROR

// printf-style formatting into a std::string, for the message templates.
std::string formatMessage(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The shared message texts, so that every raiser uses the same words.
namespace msg {
inline constexpr const char* kStreamRead = "Stream read error";
inline constexpr const char* kStreamWrite = "Stream write error";
inline constexpr const char* kCannotOpen = "Cannot open file %s";
inline constexpr const char* kCannotCreate = "Cannot create file %s";
inline constexpr const char* kBitmapInvalid = "Bitmap image is not valid";
inline constexpr const char* kDIBInvalid = "DIB is invalid";
inline constexpr const char* kCannotBeMade = "%s cannot be made";
inline constexpr const char* kUnknownExtension = "Unknown picture file extension (.%s)";
inline constexpr const char* kJPEGError = "JPEG error #%d";
inline constexpr const char* kScanLineRange = "Index of the scanning line exceeded the range. (%d)";
inline constexpr const char* kBitCountInvalid = "Bitcount in invalid (%d)";
inline constexpr const char* kPixelFormatInvalid = "PixelFormat in invalid";
inline constexpr const char* kCannotAssign = "Cannot assign a %s to a %s";
inline constexpr const char* kListIndex = "List index out of bounds (%d)";
inline constexpr const char* kNotFloat = "'%s' is not a valid floating point value";
}  // namespace msg

}  // namespace tsx
