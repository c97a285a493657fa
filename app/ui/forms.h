// Starting the desktop program's windows: the main window, which creates the
// other five in their order and keeps them until it is destroyed.
#pragma once

#include <memory>

namespace tsx {

struct Session;
class TForm1;

/// Creates the six windows over the session and shows the overview at once.
/// The session must outlive them.
std::unique_ptr<TForm1> createForms(Session& session);

}  // namespace tsx
