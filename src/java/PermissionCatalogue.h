#pragma once

#include "common/PermissionChoice.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace jarseal {

// One permission group: its check box on the permission page, the group
// panel holding that box, its key in section "Permissions" of the settings
// file and its fragment of the MIDlet-Permissions line.
struct PermissionGroup {
    std::string_view checkBox;     // control name, e.g. "chkRead"
    std::string_view caption;      // the box's caption
    std::string_view toolTip;      // empty when the box has none
    std::string_view panelCaption; // caption of the group panel
    int panelIndex;                // index of that panel in Frame1 (1 to 5)
    std::string_view keyWritten;   // settings key as a click writes it
    std::string_view keyRead;      // settings key as loading reads it (same entry)
    std::string_view fragment;     // permission names, each followed by ", "
};

// The settings section holding the permission preferences.
inline constexpr std::string_view kPermissionsSection = "Permissions";

// The start of every composed line: the attribute name, a colon and a blank.
inline constexpr std::string_view kPermissionsPrefix = "MIDlet-Permissions: ";

// The fourteen permission groups in catalogue order: the order of the
// fragments in the line and of BoxState indices. The texts are the window's
// own, kept as they are (spelling included).
inline constexpr std::array<PermissionGroup, kPermissionGroupCount> PermissionSet = {{
    {"chkRead", "чтение", "Разрешить чтение фалов телефона", "FileSystem", 2, "read", "read",
     "javax.microedition.io.Connector.file.read, "},
    {"chkWrite", "запись", "Разрешить запись файлов телефона", "FileSystem", 2, "write", "write",
     "javax.microedition.io.Connector.file.write, "},
    {"chkSock", "socket", "Разрешить socket соединение (нужно для интернет браузеров)", "NET", 3, "socket",
     "socket", "javax.microedition.io.Connector.socket, "},
    {"chkHttp", "http", "Разренить http соединение (нужно для интернет браузеров)", "NET", 3, "http", "http",
     "javax.microedition.io.Connector.http, "},
    {"chkHttps", "https", "Разренить https (безопасное) соединение", "NET", 3, "https", "https",
     "javax.microedition.io.Connector.https, "},
    {"chkSsl", "ssl", "Разрешить безопастное соединение по протоколу SSL (обычно для почтовых клиентов)",
     "NET", 3, "ssl", "ssl", "javax.microedition.io.Connector.ssl, "},
    {"chkSocSer", "socket server", "", "NET", 3, "socketserver", "socketserver",
     "javax.microedition.io.Connector.serversocket, "},
    {"chkPush", "PushRegistry", "", "NET", 3, "PushRegestry", "pushregestry",
     "javax.microedition.io.PushRegistry, "},
    {"chkSms", "SMS", "Разрешить отправлять и принимать SMS", "Messages", 4, "SMS", "SMS",
     "javax.microedition.io.Connector.sms, javax.wireless.messaging.sms.receive, "
     "javax.wireless.messaging.sms.send, "},
    {"chkMms", "MMS", "Разрешить отправлять и принимать MMS", "Messages", 4, "MMS", "MMS",
     "javax.microedition.io.Connector.mms, javax.wireless.messaging.mms.send, "
     "javax.wireless.messaging.mms.receive, "},
    {"chkBTC", "BlueTooth client", "Разрешить подключение по BlueTooth", "BlueTooth", 1, "bluetoothclient",
     "bluetoothclient", "javax.microedition.io.Connector.bluetooth.client, "},
    {"chkBTS", "BlueTooth server", "Разрешить подключение по BlueTooth", "BlueTooth", 1, "bluetoothserver",
     "bluetoothserver", "javax.microedition.io.Connector.bluetooth.server, "},
    {"chkPIM", "PIM", "Разрешить доступ к списку котактов", "Additional", 5, "PIM", "PIM",
     "javax.microedition.pim.ContactList.read, javax.microedition.pim.ContactList.write, "},
    {"chkCam", "Камера", "Разрешить доступ к камере", "Additional", 5, "camera", "camera",
     "javax.microedition.media.control.RecordControl, "
     "javax.microedition.media.control.VideoControl.getSnapshot, "},
}};

// The five group panels: Frame1 indices 1 to 5.
inline constexpr int kFirstPermissionPanel = 1;
inline constexpr int kLastPermissionPanel = 5;

// The catalogue position of the group whose check box is named checkBox, or
// kPermissionGroupCount when there is none.
std::size_t PermissionGroupIndex(std::string_view checkBox);

// The MIDlet-Permissions line: the prefix followed by the fragment of every
// group in the checked state, in catalogue order. Unchecked and greyed groups
// add nothing; with no group granted the result is the bare prefix. The
// final ", " is left on for the caller to remove.
std::string BuildPermissionsLine(const PermissionChoice& choice);

} // namespace jarseal
