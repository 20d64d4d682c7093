#include "ui/tracks_dialog.h"

#include <commctrl.h>
#include <mmdeviceapi.h>

#include <functional>
#include <string>
#include <vector>

#include "i18n/tr.h"
#include "resource.h"
#include "tracks/device_list.h"
#include "tracks/track_config.h"
#include "tracks/track_store.h"
#include "ui/combo_values.h"
#include "ui/dialog_direction.h"
#include "ui/track_dialog_texts.h"

namespace vistrel {
namespace {

// UI thread only. The management dialog is modal, so there is at most one of each.
HWND g_tracksDialog = nullptr;
HWND g_editor = nullptr;

struct EditorState {
  HINSTANCE instance = nullptr;
  TrackConfig* track = nullptr;
};
EditorState g_editorState;

constexpr int kSourceCombos[] = {IDC_VIDEO_SOURCE, IDC_AUDIO_INPUT, IDC_AUDIO_OUTPUT};

void SetTexts(HWND dialog, int templateId, const wchar_t* caption) {
  SetWindowTextW(dialog, tr(caption).c_str());
  for (const ControlText& entry : TrackDialogTexts(templateId)) {
    SetDlgItemTextW(dialog, entry.id, tr(entry.msgid).c_str());
  }
}

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void Enable(HWND dialog, int id, bool on) { EnableWindow(GetDlgItem(dialog, id), on ? TRUE : FALSE); }

// --- Track editor ------------------------------------------------------------------------------

void FillSourceList(HWND combo, const std::vector<DeviceEntry>& devices, const std::wstring& selected) {
  ClearComboItems(combo);
  for (const DeviceEntry& device : devices) AddComboItem(combo, device.name, device.id);
  SelectItemByValue(combo, selected);  // the first entry when the saved one is gone
}

void EnableSourcesForType(HWND editor, std::int32_t type) {
  const TrackSourceControls on = SourceControlsFor(type);
  for (int id : {IDC_VIDEO_SOURCE_LABEL, IDC_VIDEO_SOURCE}) Enable(editor, id, on.video);
  for (int id = IDC_AUDIO_INPUT_LABEL; id <= IDC_INPUT_VOLUME; ++id) Enable(editor, id, on.input);
  for (int id = IDC_AUDIO_OUTPUT_LABEL; id <= IDC_OUTPUT_VOLUME; ++id) Enable(editor, id, on.output);
}

std::int32_t SelectedType(HWND editor, std::int32_t otherwise) {
  const LRESULT item = SendDlgItemMessageW(editor, IDC_TRACK_TYPE, CB_GETCURSEL, 0, 0);
  return item < 0 ? otherwise : static_cast<std::int32_t>(item);
}

void InitVolume(HWND editor, int id, int position) {
  SendDlgItemMessageW(editor, id, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
  SendDlgItemMessageW(editor, id, TBM_SETPOS, TRUE, position);
}

int Volume(HWND editor, int id) { return static_cast<int>(SendDlgItemMessageW(editor, id, TBM_GETPOS, 0, 0)); }

BOOL InitEditor(HWND editor, TrackConfig* track) {
  g_editor = editor;
  g_editorState.track = track;
  SetTexts(editor, IDD_TRACK_EDITOR, kTrackEditorCaption);
  SendDlgItemMessageW(editor, IDC_TRACK_NAME, EM_LIMITTEXT, kMaxTrackNameChars, 0);
  SetDlgItemTextW(editor, IDC_TRACK_NAME, track->name.c_str());
  HWND types = GetDlgItem(editor, IDC_TRACK_TYPE);
  for (const wchar_t* name : kTrackTypeNames) {
    SendMessageW(types, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(tr(name).c_str()));
  }
  SendMessageW(types, CB_SETCURSEL, static_cast<WPARAM>(track->type), 0);  // unknown type: none

  std::vector<DeviceEntry> video = EnumerateDisplays();
  for (DeviceEntry& camera : EnumerateCameras()) video.push_back(std::move(camera));
  FillSourceList(GetDlgItem(editor, IDC_VIDEO_SOURCE), video, track->video_source_id);
  FillSourceList(GetDlgItem(editor, IDC_AUDIO_INPUT), EnumerateAudioDevices(eCapture), track->audio_input_id);
  FillSourceList(GetDlgItem(editor, IDC_AUDIO_OUTPUT), EnumerateAudioDevices(eRender), track->audio_output_id);
  InitVolume(editor, IDC_INPUT_VOLUME, track->input_volume);
  InitVolume(editor, IDC_OUTPUT_VOLUME, track->output_volume);
  EnableSourcesForType(editor, track->type);
  return TRUE;
}

std::wstring NameText(HWND editor) {
  wchar_t name[kMaxTrackNameChars + 1] = {};
  GetDlgItemTextW(editor, IDC_TRACK_NAME, name, kMaxTrackNameChars + 1);
  return name;
}

// Writes the controls into the track; false (and the track untouched) when the name is empty.
// The sources of disabled controls are kept too, so that switching the type back restores them.
bool SaveEditor(HWND editor) {
  const std::wstring name = NameText(editor);
  if (name.empty()) {
    MessageBoxW(editor, tr(kEmptyTrackNameError).c_str(), tr(kErrorCaption).c_str(),
                MB_OK | MB_ICONERROR | MessageBoxDirection());
    return false;
  }
  TrackConfig& track = *g_editorState.track;
  track.name = name;
  if (track.guid.empty()) track.guid = NewTrackGuid();
  track.type = SelectedType(editor, track.type);
  track.video_source_id = SelectedComboValue(GetDlgItem(editor, IDC_VIDEO_SOURCE)).value_or(L"");
  track.audio_input_id = SelectedComboValue(GetDlgItem(editor, IDC_AUDIO_INPUT)).value_or(L"");
  track.audio_output_id = SelectedComboValue(GetDlgItem(editor, IDC_AUDIO_OUTPUT)).value_or(L"");
  track.input_volume = Volume(editor, IDC_INPUT_VOLUME);
  track.output_volume = Volume(editor, IDC_OUTPUT_VOLUME);
  return true;
}

INT_PTR CALLBACK EditorProc(HWND editor, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return InitEditor(editor, reinterpret_cast<TrackConfig*>(lParam));
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          if (SaveEditor(editor)) EndDialog(editor, IDOK);
          return TRUE;
        case IDCANCEL:
          EndDialog(editor, IDCANCEL);
          return TRUE;
        case IDC_TRACK_TYPE:
          if (HIWORD(wParam) == CBN_SELCHANGE) EnableSourcesForType(editor, SelectedType(editor, -1));
          return TRUE;
        default:
          return FALSE;
      }
    case WM_CLOSE:
      EndDialog(editor, IDCANCEL);
      return TRUE;
    case WM_DESTROY:
      for (int id : kSourceCombos) ForgetComboValues(GetDlgItem(editor, id));
      g_editor = nullptr;
      g_editorState.track = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

bool RunEditor(HWND owner, TrackConfig& track) {
  return DialogBoxInDirection(g_editorState.instance, IDD_TRACK_EDITOR, owner, EditorProc,
                              reinterpret_cast<LPARAM>(&track)) == IDOK;
}

// --- Management dialog -------------------------------------------------------------------------

HWND TrackList(HWND dialog) { return GetDlgItem(dialog, IDC_TRACK_LIST); }

void AddColumn(HWND list, int index, const wchar_t* msgid, int width) {
  const std::wstring text = tr(msgid);
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  column.pszText = const_cast<wchar_t*>(text.c_str());
  column.cx = width;
  column.iSubItem = index;
  SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

void FillTrackList(HWND dialog) {
  HWND list = TrackList(dialog);
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  const MultiTrackConfig config = TrackStore::Instance().Snapshot();
  const std::vector<TrackConfig>& tracks = config.Tracks();
  for (size_t i = 0; i < tracks.size(); ++i) {
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = static_cast<int>(i);
    item.pszText = const_cast<wchar_t*>(tracks[i].name.c_str());
    item.lParam = static_cast<LPARAM>(i);
    const auto row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0) continue;
    const wchar_t* typeName = TrackTypeName(tracks[i].type);
    const std::wstring type = typeName ? tr(typeName) : std::wstring();
    LVITEMW cell{};
    cell.iSubItem = 1;
    cell.pszText = const_cast<wchar_t*>(type.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
  }
}

void UpdateControls(HWND dialog) {
  const TracksDialogState state =
      TracksControlsFor(Checked(dialog, IDC_MULTI_TRACK_ENABLED), Checked(dialog, IDC_SAME_SOURCES));
  for (int id : {IDC_TRACK_LIST, IDC_ADD_TRACK, IDC_EDIT_TRACK, IDC_DELETE_TRACK}) Enable(dialog, id, state.listEnabled);
  Enable(dialog, IDC_SAME_SOURCES, state.sameSourcesEnabled);
}

// The configuration index of the selected row, or -1.
int SelectedTrack(HWND dialog) {
  HWND list = TrackList(dialog);
  const auto row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (row < 0) return -1;
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return -1;
  const auto index = static_cast<size_t>(item.lParam);
  return index < TrackStore::Instance().Snapshot().Tracks().size() ? static_cast<int>(index) : -1;
}

// The switches and the list as the configuration has them.
void ShowStoredTracks(HWND dialog) {
  const MultiTrackConfig config = TrackStore::Instance().Snapshot();
  CheckDlgButton(dialog, IDC_MULTI_TRACK_ENABLED, config.IsMultiTrackEnabled() ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, IDC_SAME_SOURCES, config.UseSameSourcesInSingleMode() ? BST_CHECKED : BST_UNCHECKED);
  FillTrackList(dialog);
  UpdateControls(dialog);
}

// Saves a change; when the file cannot take it (the user has been told), the dialog shows again
// what the file holds.
void ApplyChange(HWND dialog, const std::function<void(MultiTrackConfig&)>& change) {
  if (TrackStore::Instance().Edit(change)) {
    FillTrackList(dialog);
    UpdateControls(dialog);
  } else {
    ShowStoredTracks(dialog);
  }
}

void AddTrack(HWND dialog) {
  TrackConfig track;  // a new track: no name, no guid, Mixed, full volumes
  if (!RunEditor(dialog, track)) return;
  ApplyChange(dialog, [&](MultiTrackConfig& config) { config.Tracks().push_back(track); });
}

void EditTrack(HWND dialog) {
  const int index = SelectedTrack(dialog);
  if (index < 0) return;
  // The editor works on a copy; the result goes back to the same place.
  TrackConfig track = TrackStore::Instance().Snapshot().Tracks()[static_cast<size_t>(index)];
  if (!RunEditor(dialog, track)) return;
  ApplyChange(dialog, [&](MultiTrackConfig& config) {
    if (static_cast<size_t>(index) < config.Tracks().size()) config.Tracks()[static_cast<size_t>(index)] = track;
  });
}

void DeleteTrack(HWND dialog) {
  const int index = SelectedTrack(dialog);
  if (index < 0) return;
  ApplyChange(dialog, [&](MultiTrackConfig& config) {
    std::vector<TrackConfig>& tracks = config.Tracks();
    if (static_cast<size_t>(index) >= tracks.size()) return;
    const std::wstring guid = tracks[static_cast<size_t>(index)].guid;
    std::erase_if(tracks, [&](const TrackConfig& track) { return track.guid == guid; });
  });
}

BOOL InitTracksDialog(HWND dialog) {
  g_tracksDialog = dialog;
  SetTexts(dialog, IDD_TRACKS, kTracksCaption);
  HWND list = TrackList(dialog);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  AddColumn(list, 0, kTrackNameColumn, kTrackNameColumnWidth);
  AddColumn(list, 1, kTrackTypeColumn, kTrackTypeColumnWidth);
  // The file as it is now: an edit made to it since the program started is shown, and kept.
  TrackStore::Instance().Load();
  ShowStoredTracks(dialog);
  return TRUE;
}

INT_PTR CALLBACK TracksDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return InitTracksDialog(dialog);
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      switch (LOWORD(wParam)) {
        case IDC_MULTI_TRACK_ENABLED:
          ApplyChange(dialog, [&](MultiTrackConfig& config) {
            config.SetMultiTrackEnabled(Checked(dialog, IDC_MULTI_TRACK_ENABLED));
          });
          return TRUE;
        case IDC_SAME_SOURCES:
          ApplyChange(dialog, [&](MultiTrackConfig& config) {
            config.SetUseSameSourcesInSingleMode(Checked(dialog, IDC_SAME_SOURCES));
          });
          return TRUE;
        case IDC_ADD_TRACK:
          AddTrack(dialog);
          return TRUE;
        case IDC_EDIT_TRACK:
          EditTrack(dialog);
          return TRUE;
        case IDC_DELETE_TRACK:
          DeleteTrack(dialog);
          return TRUE;
        case IDOK:
        case IDCANCEL:
          EndDialog(dialog, LOWORD(wParam));
          return TRUE;
        default:
          return FALSE;
      }
    case WM_CLOSE:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    case WM_DESTROY:
      g_tracksDialog = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void ShowTracksDialog(HINSTANCE instance, HWND owner) {
  if (g_tracksDialog && IsWindow(g_tracksDialog)) {
    HWND front = g_editor && IsWindow(g_editor) ? g_editor : g_tracksDialog;
    SetForegroundWindow(front);
    SetActiveWindow(front);
    return;
  }
  g_editorState.instance = instance;
  DialogBoxInDirection(instance, IDD_TRACKS, owner, TracksDialogProc, 0);
}

}  // namespace vistrel
