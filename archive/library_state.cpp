#include "archive/library_state.h"

namespace dvl {

LibraryState& Library() {
    static LibraryState state;
    return state;
}

} // namespace dvl
