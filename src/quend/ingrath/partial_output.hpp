#pragma once
// A path that a call creates and removes again unless the call completes: a
// partial output file or an extraction folder. The destructor runs during
// unwinding as well, an interrupt included, so a failed or interrupted call
// leaves nothing half-written behind.
//
// Outputs are written where the caller's files are not: a fresh file next to
// the target, or a fresh folder inside an existing extraction folder, moved
// into place only once everything is read.
#include "common/nb.hpp"

namespace quend::ingrath {

class PartialOutput {
public:
    enum class Kind { File, Tree };
    PartialOutput(nb::object path, Kind kind) : path_(std::move(path)), kind_(kind) {}
    PartialOutput(const PartialOutput&) = delete;
    PartialOutput& operator=(const PartialOutput&) = delete;
    ~PartialOutput();
    // The call completed: the path stays (or is already gone).
    void keep() { kept_ = true; }

private:
    nb::object path_;
    Kind kind_;
    bool kept_ = false;
};

// A new file `<target>.<random>.part` next to `target`, open for writing
// bytes. Created exclusively, so two calls writing the same target never
// share (or delete) one another's partial file. The target's name is
// shortened as far as the partial name needs to fit the file system's name
// limit (the random part keeps it unique): a target whose own name fits is
// always written.
struct PartialFile {
    nb::object path, file;
};
PartialFile fresh_part_file(nb::handle target);

// Where an archive is unpacked for `target`: `target` itself when this call
// creates it, else a fresh folder inside it, so that a failure leaves the
// caller's files as they were. Removed on failure either way.
class Staging {
public:
    explicit Staging(nb::object target);
    const nb::object& dir() const { return dir_; }
    bool fresh() const { return fresh_; }
    void keep() { made_.keep(); }
    // Removes the staging folder: `target` only when this call made it.
    void remove();

private:
    bool fresh_;
    nb::object dir_;
    PartialOutput made_;
};

// Moves everything under `src` into the folder `dst`, merging folders and
// replacing files (a link is replaced, never followed). A folder where a file
// goes, or a file or link where a folder goes, raises ValueError before
// anything moves.
void move_tree_into(nb::handle src, nb::handle dst);

}  // namespace quend::ingrath
