#include "platform/sim/sim_messages.h"

#include <utility>

namespace zrt::sim {
namespace {

// Texts with inserts (such as 193, "%1 is not a valid Win32 application.")
// are left out: without arguments the system cannot format them either.
const std::pair<port::ErrorCode, const char*> kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough storage is available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough storage is available to complete this operation."},
    {15, "The system cannot find the drive specified."},
    {18, "There are no more files."},
    {21, "The device is not ready."},
    {29, "The system cannot write to the specified device."},
    {32, "The process cannot access the file because it is being used by another process."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {161, "The specified path is invalid."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {998, "Invalid access to memory location."},
    {1008, "An attempt was made to reference a token that does not exist."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1168, "Element not found."},
    {1223, "The operation was canceled by the user."},
    {1314, "A required privilege is not held by the client."},
    {1326, "Logon failure: unknown user name or bad password."},
    {1332, "No mapping between account names and security IDs was done."},
    {1346,
     "Either a required impersonation level was not provided, or the provided impersonation "
     "level is invalid."},
    {1349, "The type of the token is inappropriate for its attempted use."},
    {1359, "An internal error occurred."},
    {1460, "This operation returned because the timeout period expired."},
    {1722, "The RPC server is unavailable."},
    {1815, "The specified resource language ID cannot be found in the image file."},
};

}  // namespace

std::optional<std::string> SystemMessage(port::ErrorCode code) {
  for (const auto& [known, text] : kMessages) {
    if (known == code) return std::string(text) + "\r\n";
  }
  return std::nullopt;
}

}  // namespace zrt::sim
