#pragma once

#include <optional>
#include <string>

namespace jarseal {

// Where a run of the program keeps its things. A program folder whose
// settings file this user may write (or make) is a portable one: the
// settings file, the default key store and the working folder are in it. A
// program folder installed read-only (under /usr, say) keeps only what it
// reads (data/jadtool.jar, data/signsis); each user's settings and key
// store live in the user's own folders, and every run unpacks into a
// private folder of its own.
struct Places {
    std::string programFolder;   // the executable's folder, no trailing separator
    std::string settingsFile;    // Jarseal.ini
    std::string defaultKeystore; // the key store the first run and "По умолчанию" set
    std::string workDir;         // where archives are unpacked
    std::string lockFolder;      // the folder runs lock to take turns on workDir
    bool userFolders = false;    // the program folder is read-only: the user's folders are used
};

// The places of a portable program folder.
Places PortablePlaces(const std::string& programFolder);

// A private working folder of a run, or of one of its workers: made with
// mode 0700 under $TMPDIR (or /tmp) as jarseal-XXXXXX, and removed with what
// is left in it when the object goes. A file in it stays locked while the
// object lives; the folders of runs that were killed have none locked and
// are removed by the next run that makes its places (RunPlaces).
class WorkFolder {
  public:
    WorkFolder();
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    // Empty when no folder could be made.
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    int held_ = -1; // the held file, locked while the object lives
};

// Removes the private working folders (WorkFolder) of this user's runs that
// ended without clearing up: those whose held file nobody holds any more.
void RemoveLeftWorkFolders();

// The places of a run of the program in programFolder, following the XDG base
// directories ($XDG_CONFIG_HOME/jarseal, $XDG_DATA_HOME/jarseal, made when
// missing) for a read-only program folder. Such a run's private working
// folder (mode 0700, under $TMPDIR or /tmp) is made here and removed, with
// what is left in it, when the object goes; those of runs that were killed
// are removed by the next run. A portable folder's missing
// working folder is made again. Throws RunError, naming the folder, when a
// folder the run needs cannot be made or written.
class RunPlaces {
  public:
    explicit RunPlaces(const std::string& programFolder);
    ~RunPlaces();
    RunPlaces(const RunPlaces&) = delete;
    RunPlaces& operator=(const RunPlaces&) = delete;
    const Places& Get() const { return places_; }

  private:
    Places places_;
    std::optional<WorkFolder> private_; // the working folder of a read-only install's run
};

} // namespace jarseal
