#include "core/nvda_client.h"

#include <excpt.h>
#include <rpcasync.h>

#include <cstdlib>
#include <vector>

#include "nvda_controller.h"

// The stubs allocate through these two (nothing in this interface's calls needs them).
extern "C" void* __RPC_USER MIDL_user_allocate(size_t size) { return std::malloc(size); }
extern "C" void __RPC_USER MIDL_user_free(void* memory) { std::free(memory); }

// The guarded frame, written out because GCC has no __try/__except. An x64 function whose unwind
// information names VistrelGuardedCallFilter as its exception handler: the system asks that
// handler about every exception raised below the frame; the handler unwinds to the landing point,
// which returns the exception's code (RtlUnwindEx puts it in rax).
//
//   unsigned long VistrelGuardedCall(call, context, raised)   rcx, rdx, r8
//
// The frame pointer rbp is the establisher frame; the caller's home slot at 16(%rbp) keeps r8.
extern "C" unsigned long VistrelGuardedCall(unsigned long (*call)(void*), void* context, bool* raised);
extern "C" void VistrelGuardedCallLanding();
extern "C" EXCEPTION_DISPOSITION VistrelGuardedCallFilter(EXCEPTION_RECORD* record, void* frame, CONTEXT* context,
                                                          DISPATCHER_CONTEXT* dispatch);

asm(R"(
    .text
    .p2align 4
    .globl VistrelGuardedCall
    .def VistrelGuardedCall; .scl 2; .type 32; .endef
    .seh_proc VistrelGuardedCall
VistrelGuardedCall:
    pushq %rbp
    .seh_pushreg %rbp
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    subq $32, %rsp
    .seh_stackalloc 32
    .seh_endprologue
    .seh_handler VistrelGuardedCallFilter, @except
    movq %r8, 16(%rbp)
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    nop
    leaq 0(%rbp), %rsp
    popq %rbp
    retq
    .globl VistrelGuardedCallLanding
VistrelGuardedCallLanding:
    movq 16(%rbp), %rcx
    movb $1, (%rcx)
    leaq 0(%rbp), %rsp
    popq %rbp
    retq
    .seh_endproc
)");

extern "C" EXCEPTION_DISPOSITION VistrelGuardedCallFilter(EXCEPTION_RECORD* record, void* frame, CONTEXT* context,
                                                          DISPATCHER_CONTEXT* dispatch) {
  constexpr DWORD kCxxThrow = 0x20474343;  // a C++ exception (GCC's), which is not ours to stop
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
  if (record->ExceptionCode == kCxxThrow) return ExceptionContinueSearch;
  if (I_RpcExceptionFilter(record->ExceptionCode) != EXCEPTION_EXECUTE_HANDLER) return ExceptionContinueSearch;
  RtlUnwindEx(frame, reinterpret_cast<void*>(&VistrelGuardedCallLanding), record,
              reinterpret_cast<void*>(static_cast<ULONG_PTR>(record->ExceptionCode)), context,
              dispatch->HistoryTable);
  return ExceptionContinueSearch;  // not reached: the unwind continues at the landing point
}

namespace vistrel {
namespace {

struct TextCall {
  RPC_BINDING_HANDLE binding;
  const wchar_t* text;
};

unsigned long SpeakCall(void* context) {
  const auto* call = static_cast<const TextCall*>(context);
  return NvdaCall_speakText(call->binding, call->text);
}

unsigned long BrailleCall(void* context) {
  const auto* call = static_cast<const TextCall*>(context);
  return NvdaCall_brailleMessage(call->binding, call->text);
}

std::wstring DesktopName() {
  HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
  DWORD needed = 0;
  GetUserObjectInformationW(desktop, UOI_NAME, nullptr, 0, &needed);
  std::vector<wchar_t> name(needed / sizeof(wchar_t) + 1, L'\0');
  if (!GetUserObjectInformationW(desktop, UOI_NAME, name.data(), static_cast<DWORD>(name.size() * sizeof(wchar_t)),
                                 &needed)) {
    return L"Default";
  }
  return name.data();
}

}  // namespace

unsigned long CallGuarded(unsigned long (*call)(void* context), void* context, bool& raised) {
  raised = false;
  return VistrelGuardedCall(call, context, &raised);
}

std::wstring NvdaEndpoint() {
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  return L"NvdaCtlr." + std::to_wstring(session) + L"." + DesktopName();
}

NvdaClient::NvdaClient(const std::wstring& endpoint) : endpoint_(endpoint) { Bind(); }

NvdaClient::~NvdaClient() {
  if (binding_) RpcBindingFree(&binding_);
}

void NvdaClient::Bind() {
  if (binding_) RpcBindingFree(&binding_);
  RPC_WSTR text = nullptr;
  std::wstring protocol = L"ncalrpc";
  if (RpcStringBindingComposeW(nullptr, reinterpret_cast<RPC_WSTR>(protocol.data()), nullptr,
                               reinterpret_cast<RPC_WSTR>(endpoint_.data()), nullptr, &text) != RPC_S_OK) {
    return;
  }
  RpcBindingFromStringBindingW(text, &binding_);
  RpcStringFreeW(&text);
  // Windows gives up on a call that hangs after this long (a hung NVDA); a hint, not relied on.
  if (binding_) RpcBindingSetOption(binding_, RPC_C_OPT_CALL_TIMEOUT, 5000);
}

bool NvdaClient::Running() const { return binding_ && RpcMgmtIsServerListening(binding_) == RPC_S_OK; }

unsigned long NvdaClient::Call(unsigned long (*call)(void*), const std::wstring& text) {
  if (!binding_) return RPC_S_INVALID_BINDING;
  TextCall arguments{binding_, text.c_str()};
  bool raised = false;
  unsigned long status = CallGuarded(call, &arguments, raised);
  if (!raised) return status;
  // The connection kept from before is dead (NVDA restarted, or gone): bind anew, and when a
  // server listens again, it takes the text.
  Bind();
  if (!Running()) return status;
  arguments.binding = binding_;
  return CallGuarded(call, &arguments, raised);
}

unsigned long NvdaClient::Speak(const std::wstring& text) { return Call(SpeakCall, text); }

unsigned long NvdaClient::Braille(const std::wstring& text) { return Call(BrailleCall, text); }

}  // namespace vistrel
