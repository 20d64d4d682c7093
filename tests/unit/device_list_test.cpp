#include <windows.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <set>

#include <gtest/gtest.h>

#include "tracks/device_list.h"

namespace vistrel {
namespace {

void ExpectDistinctNamedEntries(const std::vector<DeviceEntry>& list) {
  std::set<std::wstring> ids;
  for (const DeviceEntry& entry : list) {
    EXPECT_FALSE(entry.id.empty());
    EXPECT_FALSE(entry.name.empty()) << entry.id;
    EXPECT_TRUE(ids.insert(entry.id).second) << "listed twice: " << entry.id;
  }
}

TEST(DeviceList, AudioListsStartWithTheDefaultDeviceThenDistinctEndpoints) {
  for (const int flow : {static_cast<int>(eCapture), static_cast<int>(eRender)}) {
    const std::vector<DeviceEntry> list = EnumerateAudioDevices(flow);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list[0].id, L"Default");
    EXPECT_EQ(list[0].name, L"Default Device");
    ExpectDistinctNamedEntries(list);
    // Every listed endpoint can be opened by the identifier a track stores.
    CoInitialize(nullptr);
    {
      Microsoft::WRL::ComPtr<IMMDeviceEnumerator> enumerator;
      ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                                IID_PPV_ARGS(&enumerator)));
      for (size_t i = 1; i < list.size(); ++i) {
        Microsoft::WRL::ComPtr<IMMDevice> device;
        EXPECT_HRESULT_SUCCEEDED(enumerator->GetDevice(list[i].id.c_str(), &device)) << list[i].name;
      }
    }
    CoUninitialize();
  }
}

bool Lists(const std::vector<DeviceEntry>& list, const std::wstring& name) {
  for (const DeviceEntry& entry : list) {
    if (entry.name == name) return true;
  }
  return false;
}

TEST(DeviceList, TheTestEnvironmentsDevicesAreListedByFriendlyName) {
  // The project's Wine environment has a virtual microphone, a null sink with its monitor and one display.
  if (GetEnvironmentVariableW(L"VISTREL_ENV_STATE", nullptr, 0) == 0) GTEST_SKIP() << "not in the test environment";
  const std::vector<DeviceEntry> inputs = EnumerateAudioDevices(eCapture);
  EXPECT_TRUE(Lists(inputs, L"Virtual_Microphone"));
  EXPECT_TRUE(Lists(inputs, L"Monitor of Virtual_Speakers"));
  EXPECT_TRUE(Lists(EnumerateAudioDevices(eRender), L"Virtual_Speakers"));
  EXPECT_EQ(EnumerateDisplays().size(), 2u) << "the primary entry and the one output";
}

// The test machines have no video-capture device: asking for cameras must not fail or invent one.
TEST(DeviceList, DisplaysAreNumberedByTheirPositionAfterThePrimaryEntryAndNoCameraIsInvented) {
  EXPECT_TRUE(EnumerateCameras().empty());
  const std::vector<DeviceEntry> list = EnumerateDisplays();
  ASSERT_GE(list.size(), 2u) << "the test display has at least one output";
  EXPECT_EQ(list[0].id, L"Default");
  EXPECT_EQ(list[0].name, L"Primary Display");
  for (size_t i = 1; i < list.size(); ++i) {
    EXPECT_EQ(list[i].name, L"Display " + std::to_wstring(i) + L": " + list[i].id);
    EXPECT_EQ(list[i].id.rfind(L"\\\\.\\DISPLAY", 0), 0u) << list[i].id;
  }
  ExpectDistinctNamedEntries(list);
}

}  // namespace
}  // namespace vistrel
