// NVDA's controller interface through the program's own client, against the tests' stand-in server
// (tools/stand_ins), which is a separate process here so that it can die between two calls.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "core/handles.h"
#include "core/nvda_client.h"
#include "test_support.h"

namespace vistrel {
namespace {

// The stand-in serving `endpoint` and writing what it hears to `record`, until Kill.
class StandIn {
 public:
  StandIn(const std::wstring& endpoint, const std::wstring& record) {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = exe;
    command = L"\"" + command.substr(0, command.find_last_of(L'\\')) + L"\\vistrel-stand-in.exe\" nvda \"" + record +
              L"\" --endpoint " + endpoint;
    // Its standard input stays open while it runs; its output says when it listens.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE pipes[4] = {};
    CreatePipe(&pipes[0], &pipes[1], &inherit, 0);
    CreatePipe(&pipes[2], &pipes[3], &inherit, 0);
    UniqueKernelHandle outRead(pipes[0]), outWrite(pipes[1]), inRead(pipes[2]);
    input_.reset(pipes[3]);
    SetHandleInformation(pipes[0], HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(pipes[3], HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead.get();
    startup.hStdOutput = outWrite.get();
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) return;
    process_.reset(info.hProcess);
    CloseHandle(info.hThread);
    outWrite.reset();
    char said[16] = {};
    DWORD got = 0;
    ReadFile(outRead.get(), said, sizeof said - 1, &got, nullptr);
    ready_ = std::string(said).rfind("ready", 0) == 0;
  }
  ~StandIn() { Kill(); }
  bool ready() const { return ready_; }
  void Kill() {
    if (!process_) return;
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 10000);
    process_.reset();
  }

 private:
  UniqueKernelHandle process_;
  UniqueKernelHandle input_;
  bool ready_ = false;
};

TEST(NvdaClient, SpeaksAndBraillesAndOutlivesAServerThatGoes) {
  testing::TempFolder folder;
  const std::wstring record = folder / L"heard.txt";
  const std::wstring endpoint = L"VistrelTest." + std::to_wstring(GetCurrentProcessId());
  NvdaClient client(endpoint);

  // Nothing listens: the check says so, and a call raises an exception that the frame stops.
  EXPECT_FALSE(client.Running());
  EXPECT_EQ(client.Speak(L"nobody"), static_cast<unsigned long>(RPC_S_SERVER_UNAVAILABLE));

  StandIn server(endpoint, record);
  ASSERT_TRUE(server.ready());
  EXPECT_TRUE(client.Running());
  EXPECT_EQ(client.Speak(L"Gr\u00fc\u00dfe, \u0645\u0631\u062d\u0628\u0627."), 0u);
  EXPECT_EQ(client.Braille(L"Saved: C:\\a\\b.png"), 0u);
  EXPECT_EQ(testing::ReadBytes(record),
            "speakText\tGr\xC3\xBC\xC3\x9F" "e, \xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7.\n"
            "brailleMessage\tSaved: C:\\a\\b.png\n");

  // The server dies between the check and the call: the call fails, the program goes on.
  EXPECT_TRUE(client.Running());
  server.Kill();
  EXPECT_NE(client.Speak(L"lost"), 0u);
  EXPECT_NE(client.Braille(L"lost"), 0u);
  EXPECT_FALSE(client.Running());

  // A server that comes back (NVDA restarted) is reached through the same client.
  StandIn again(endpoint, record);
  ASSERT_TRUE(again.ready());
  EXPECT_TRUE(client.Running());
  EXPECT_EQ(client.Speak(L"back"), 0u);
  EXPECT_NE(testing::ReadBytes(record).find("speakText\tback\n"), std::string::npos);
}

}  // namespace
}  // namespace vistrel
