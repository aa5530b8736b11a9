// The lister's directory readers: one per format family, each a preparation
// run once per listing and an entry step run for every header the walk reads.
// A reader keeps its own state; the walk state and the shared operations are
// the lister's.
#pragma once

#include "archive/arc_type.h"

#include <memory>

namespace dvl {

class TLorvex;

namespace lister {

class Reader {
public:
    virtual ~Reader() = default;
    // Reads what comes before the entries; sets the header size and may move
    // the entry offset (HeaderPos) and the stop offset (StopPos).
    virtual void Prepare(TLorvex& lister) = 0;
    // The header at HeaderPos is in the header buffer and ReadPos is after
    // it. Handles its entry and leaves ReadPos at the next header, or at
    // StopPos to end the walk.
    virtual void Step(TLorvex& lister) = 0;
    // After a walk that was not cancelled: reports the entries the walk could
    // not reach (a directory that stops on a damaged record, a table cut
    // short), so that a damaged archive never lists as a whole one.
    virtual void Finish(TLorvex&) {}
};

std::unique_ptr<Reader> MakeZipReader();
std::unique_ptr<Reader> MakeCabReader();
std::unique_ptr<Reader> MakeArjReader();
std::unique_ptr<Reader> MakeArcReader();
std::unique_ptr<Reader> MakePakReader();
std::unique_ptr<Reader> MakeBhReader();
std::unique_ptr<Reader> MakeHaReader();
std::unique_ptr<Reader> MakeGZipReader();
std::unique_ptr<Reader> MakeLhaReader();
std::unique_ptr<Reader> MakeRarReader();
std::unique_ptr<Reader> MakeTarReader();
std::unique_ptr<Reader> MakeUueReader();
std::unique_ptr<Reader> MakeZooReader();

// The reader of a type; none for a type that no reader takes.
std::unique_ptr<Reader> MakeReader(TArcType type);

} // namespace lister
} // namespace dvl
