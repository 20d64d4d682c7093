// Sound effects: WAVE files in sounds\ beside the program, or anywhere by full path.
#pragma once

#include <string>

namespace vistrel {

// The sounds of a recording's events, played to their end (empty: silence), and whether they play
// at all. `failed` replaces the stop sound when the recording could not start or was not saved.
struct RecordingSounds {
  bool enabled = false;
  std::wstring start;
  std::wstring stop;
  std::wstring pause;
  std::wstring resume;
  std::wstring failed;
};

// The program's own answer to a request it cannot carry out now (a recording in the way, a
// countdown that runs, a hotkey that another program holds).
inline constexpr wchar_t kRefusedSound[] = L"refused.wav";

// The file a sound setting plays, or empty for silence.
std::wstring ResolveSoundPath(const std::wstring& value);

// Starts the sound and returns at once. Starting a sound ends the one playing.
void PlaySoundAsync(const std::wstring& value);

// Plays the sound to its end (or until another sound ends it).
void PlaySoundSync(const std::wstring& value);

// Ends the sound playing and the thread that plays them; later sounds are not played.
void ShutdownSounds();

// The program's folder (no trailing backslash).
std::wstring ProgramFolder();

}  // namespace vistrel
