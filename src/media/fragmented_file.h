// A recording written in fragments, so that a crash leaves a file that plays, made an ordinary MP4
// with its index at the front, in place. The copy replaces the fragments only when it read the
// file to its true end, holds every packet that was recorded, and is on the disk; otherwise the
// fragmented file stays as it is: it plays.
//
// A file is finished only while this process holds it open without letting anyone write to it, so
// a file another program (another copy of Vistrel, in another session, say) is writing is never
// touched: that open fails while a writer has it open. A lock on a byte far past its end marks it
// as being finished, so that two copies never finish the same file at once.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vistrel {

// What the recorder that wrote a file knows of it. A file left by an earlier run is finished with
// what the file itself says.
struct FragmentFacts {
  std::int64_t lead = -1;             // how late every packet was written (the audio encoders'
                                      // priming), in AV_TIME_BASE units; -1: read from the file
  std::vector<std::int64_t> ends;     // where each stream ended, lead included; 0 or none: unknown
  std::vector<std::int64_t> packets;  // how many packets each stream holds; empty: unknown, and a
                                      // file cut short is then finished as far as it is whole
};

// S_OK: the file is an ordinary MP4 now. S_FALSE: it was left alone (being written or finished
// elsewhere, or not written in fragments). E_ABORT: `cancel` was set. Another code: it could not
// be finished (logged). In every case but S_OK the file is as it was.
HRESULT FinishFragmentedFile(const wchar_t* prefix, const std::wstring& path, const FragmentFacts& facts,
                             const std::atomic<bool>* cancel);

// Tests give the copy a reader that fails as a failing disk does; null restores ReadFile.
using ReadFileFunction = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
void SetFragmentReaderForTest(ReadFileFunction read);

}  // namespace vistrel
