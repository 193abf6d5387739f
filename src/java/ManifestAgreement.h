#pragma once

#include "common/FileSystem.h"
#include "zip/ZipRewrite.h"

#include <optional>
#include <stdexcept>
#include <string>

namespace jarseal {

// The permission attributes a descriptor carries; an absent attribute has no
// value.
struct PermissionAttributes {
    std::optional<std::string> permissions; // MIDlet-Permissions
    std::optional<std::string> optional;    // MIDlet-Permissions-Opt
    bool operator==(const PermissionAttributes&) const = default;
};

// The permission attributes among descriptor lines read leniently
// (check::ParseLeniently); the first of each name counts.
PermissionAttributes PermissionAttributesOf(const std::string& lines);

// The manifest text with each permission attribute the descriptor carries
// made equal in its main section: replaced when its value differs, added at
// the end of the main section when the manifest lacks it; folded to lines of
// 72 bytes with the manifest's line end. An attribute the descriptor does not
// carry stays as it is, and nothing is ever removed. nullopt when the
// manifest already agrees.
std::optional<std::string> AgreeingManifest(const std::string& manifest,
                                            const PermissionAttributes& descriptor);

// The jar is not the file the job read: it was replaced or written meanwhile.
struct JarChangedError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// A damaged jar throws JarDamagedError (zip/ZipRewrite.h).

// The jar's META-INF/MANIFEST.MF made to agree with the descriptor's
// permission attributes, as a change that stays undoable until it is kept.
// The new jar copies every other entry's bytes as they are (nothing is
// inflated or recompressed but the manifest), so it is at most the old
// jar's size plus the manifest's growth; it is written beside the jar and
// exchanged with it in one step, and the old jar is kept beside it until
// Keep. Its first rewrite also keeps the old jar once as backupPath.
class JarAgreement {
  public:
    // Rewrites the jar when its manifest does not agree; nothing changes
    // when it does, or when it has no manifest. The jar must still be the
    // file of the identity given (checked before reading, before the backup
    // and at the exchange). Throws JarChangedError, JarDamagedError, or RunError when
    // the jar cannot be written (every file is then as it was).
    JarAgreement(const std::string& jarPath, const std::string& backupPath, const FileIdentity& jar,
                 const PermissionAttributes& descriptor);
    // Puts the old jar back unless Keep was called.
    ~JarAgreement();
    JarAgreement(const JarAgreement&) = delete;
    JarAgreement& operator=(const JarAgreement&) = delete;

    bool Changed() const { return !oldJar_.empty(); }
    // The jar as the job now expects it: the rewritten one, or the one
    // given.
    const FileIdentity& Identity() const { return identity_; }
    // The change stays: the old jar's copy beside it is removed.
    void Keep();
    // Puts the old jar back, byte for byte, unless the jar was written or
    // replaced since (that newer jar stays); does nothing when nothing
    // changed or after Keep.
    enum class Restore { NothingToDo, PutBack, ChangedMeanwhile };
    Restore Undo() noexcept;

  private:
    void KeepBackupOnce(const ZipBytes& bytes, unsigned mode);
    void Exchange(TempFile& rewritten, const FileIdentity& jar, const FileIdentity& rewrite);
    void DropBackup() noexcept;

    std::string jarPath_;
    std::string backupPath_;
    bool madeBackup_ = false;
    std::string oldJar_; // where the old jar waits while the change may be undone
    FileIdentity identity_;
};

} // namespace jarseal
