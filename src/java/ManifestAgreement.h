#pragma once

#include "common/FileSystem.h"

#include <optional>
#include <string>

namespace jarseal {

// The permission attributes a descriptor carries; an absent attribute has no
// value.
struct PermissionAttributes {
    std::optional<std::string> permissions; // MIDlet-Permissions
    std::optional<std::string> optional;    // MIDlet-Permissions-Opt
    bool operator==(const PermissionAttributes&) const = default;
};

// The permission attributes among "Name: value" lines (CR LF, LF or CR ends),
// values trimmed of blanks; the first of each name counts.
PermissionAttributes PermissionAttributesOf(const std::string& lines);

// The manifest text with the permission attributes of its main section made
// equal to those the descriptor will carry: an attribute the manifest carries
// gets the descriptor's value, folded to lines of 72 bytes with the line end
// it had, or is dropped when the descriptor carries none. Every other byte
// stays. nullopt when the manifest already agrees, that is when each
// permission attribute it carries has the descriptor's value.
std::optional<std::string> AgreeingManifest(const std::string& manifest,
                                            const PermissionAttributes& descriptor);

// The jar's META-INF/MANIFEST.MF as read at one moment, and the jar's stamp
// then: what BringJarIntoAgreement needs to know of a jar that has not
// changed since, without opening it again.
struct JarManifestSnapshot {
    FileStamp stamp;
    std::optional<std::string> manifest; // none: the jar has no manifest
};
// Reads it; nullopt when the jar cannot be read cleanly or changed during the
// reading (BringJarIntoAgreement then reads it itself and says why).
std::optional<JarManifestSnapshot> SnapshotJarManifest(const std::string& jarPath);

// Rewrites META-INF/MANIFEST.MF inside the jar as AgreeingManifest says,
// keeping every other entry as it was; first keeps the jar's bytes once in
// backupPath (never replaced). The new jar is written beside the old one and
// renamed over it. Returns false, touching nothing, when the jar already
// agrees. Throws RunError when the jar cannot be read or rewritten; every
// file is then as it was (a backup made by this call is removed again). A
// snapshot of the jar as it still is saves opening it to find that it agrees.
bool BringJarIntoAgreement(const std::string& jarPath, const std::string& backupPath,
                           const PermissionAttributes& descriptor,
                           const std::optional<JarManifestSnapshot>& snapshot = std::nullopt);

} // namespace jarseal
