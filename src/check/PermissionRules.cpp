#include "check/PermissionRules.h"

#include "common/Text.h"
#include "common/Translate.h"

#include <set>

namespace jarseal {

bool KnownPermissionName(const std::string& name) {
    static const std::set<std::string> known = {
        "javax.microedition.io.Connector.http",
        "javax.microedition.io.Connector.https",
        "javax.microedition.io.Connector.socket",
        "javax.microedition.io.Connector.serversocket",
        "javax.microedition.io.Connector.ssl",
        "javax.microedition.io.Connector.datagram",
        "javax.microedition.io.Connector.datagramreceiver",
        "javax.microedition.io.Connector.comm",
        "javax.microedition.io.PushRegistry",
        "javax.microedition.io.Connector.file.read",
        "javax.microedition.io.Connector.file.write",
        "javax.microedition.io.Connector.sms",
        "javax.microedition.io.Connector.mms",
        "javax.microedition.io.Connector.cbs",
        "javax.wireless.messaging.sms.send",
        "javax.wireless.messaging.sms.receive",
        "javax.wireless.messaging.mms.send",
        "javax.wireless.messaging.mms.receive",
        "javax.wireless.messaging.cbs.receive",
        "javax.microedition.io.Connector.bluetooth.client",
        "javax.microedition.io.Connector.bluetooth.server",
        "javax.microedition.io.Connector.obex.client",
        "javax.microedition.io.Connector.obex.server",
        "javax.microedition.io.Connector.obex.client.tcp",
        "javax.microedition.io.Connector.obex.server.tcp",
        "javax.microedition.io.Connector.irdaobex",
        "javax.microedition.io.Connector.sip",
        "javax.microedition.io.Connector.sips",
        "javax.microedition.pim.ContactList.read",
        "javax.microedition.pim.ContactList.write",
        "javax.microedition.pim.EventList.read",
        "javax.microedition.pim.EventList.write",
        "javax.microedition.pim.ToDoList.read",
        "javax.microedition.pim.ToDoList.write",
        "javax.microedition.media.control.RecordControl",
        "javax.microedition.media.control.VideoControl.getSnapshot",
        "javax.microedition.location.Location",
        "javax.microedition.location.Orientation",
        "javax.microedition.location.ProximityListener",
        "javax.microedition.location.LandmarkStore.read",
        "javax.microedition.location.LandmarkStore.write",
        "javax.microedition.location.LandmarkStore.category",
        "javax.microedition.location.LandmarkStore.management",
        "javax.microedition.apdu.aid",
        "javax.microedition.apdu.sat",
        "javax.microedition.jcrmi",
        "javax.microedition.payment.process",
        "javax.microedition.securityservice.CMSMessageSignatureService",
        "javax.microedition.amms.control.camera.enableShutterFeedback",
        "javax.microedition.amms.control.tuner.setPreset",
        "javax.microedition.content.ContentHandler",
    };
    return known.count(name) != 0;
}

namespace check {

void CheckPermissions(const Attributes& attrs, const std::string& where, CheckReport& report) {
    for (const char* name : {"MIDlet-Permissions", "MIDlet-Permissions-Opt"}) {
        const std::string* value = Find(attrs, name);
        if (value == nullptr)
            continue;
        const bool critical = std::string(name) == "MIDlet-Permissions";
        std::size_t start = 0;
        while (start <= value->size()) {
            auto end = value->find(',', start);
            if (end == std::string::npos)
                end = value->size();
            const std::string permission = TrimBlanksAndTabs(value->substr(start, end - start));
            start = end + 1;
            if (permission.empty() || KnownPermissionName(permission))
                continue;
            if (critical)
                report.findings.push_back(
                    {InstallerStatus::AuthorizationFailure,
                     Tr(where) + TrFormat("{1} names the unknown permission \"{2}\"", {name, permission})});
            else
                report.findings.push_back(
                    {InstallerStatus::None,
                     Tr(where) + TrFormat("{1} names the unknown permission \"{2}\"; the phone drops it",
                                          {name, permission})});
        }
    }
}

} // namespace check

} // namespace jarseal
