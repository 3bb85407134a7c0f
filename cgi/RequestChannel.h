#pragma once

#include <cstddef>

namespace strixel {

// Where a request's environment, body and response go. A CGI request uses
// the process's own: its environment, standard input and standard output.
// A FastCGI request uses its connection's, through a channel installed for
// the time of the request; the request's code is the same in both cases.
class CRequestChannel {
public:
  CRequestChannel() = default;
  CRequestChannel(const CRequestChannel &) = delete;
  CRequestChannel &operator=(const CRequestChannel &) = delete;
  virtual ~CRequestChannel() = default;
  // The value of a request variable, or nullptr when it is not set.
  virtual const char *GetVariable(const char *name) = 0;
  // Reads up to size bytes of the request body; 0 at its end or on failure.
  virtual std::size_t ReadInput(char *buffer, std::size_t size) = 0;
  // Writes all of data to the response; false when that failed.
  virtual bool WriteOutput(const char *data, std::size_t size) = 0;
};

// The installed channel, or nullptr for the process's own CGI request.
CRequestChannel *InstalledChannel();

// The request's variable: getenv for a CGI request.
const char *RequestVariable(const char *name);
// Reads the request's body: fread from standard input for a CGI request.
std::size_t ReadRequestInput(char *buffer, std::size_t size);

} // namespace strixel
