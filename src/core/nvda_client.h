// Speech and braille through NVDA's controller interface: a local RPC server that NVDA runs in the
// user's session, reached over ncalrpc with our own client stub (nvda_controller.idl).
//
// A call to a server that has gone raises a structured exception, not a C++ one; every call here
// runs inside a frame of its own that turns such an exception into its code. Calls block until
// the server answers (a busy NVDA, a debugger), so they are made only off the interface thread.
#pragma once

#include <windows.h>
#include <rpc.h>

#include <string>

namespace vistrel {

// NVDA's endpoint for this session and desktop: "NvdaCtlr.<session id>.<desktop name>".
std::wstring NvdaEndpoint();

// Runs `call(context)` inside a frame that stops the exceptions that RPC calls raise (those that
// I_RpcExceptionFilter lets through; an access violation still ends the program). Returns what
// `call` returned, or the exception's code with `raised` set.
unsigned long CallGuarded(unsigned long (*call)(void* context), void* context, bool& raised);

class NvdaClient {
 public:
  explicit NvdaClient(const std::wstring& endpoint = NvdaEndpoint());
  NvdaClient(const NvdaClient&) = delete;
  NvdaClient& operator=(const NvdaClient&) = delete;
  ~NvdaClient();

  // Whether a server listens on the endpoint now: fast, and never raises.
  bool Running() const;
  // 0 when NVDA took the text; otherwise the RPC status or the code of the exception raised.
  unsigned long Speak(const std::wstring& text);
  unsigned long Braille(const std::wstring& text);

 private:
  void Bind();
  unsigned long Call(unsigned long (*call)(void*), const std::wstring& text);

  std::wstring endpoint_;
  RPC_BINDING_HANDLE binding_ = nullptr;
};

}  // namespace vistrel
