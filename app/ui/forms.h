// The six windows of the program, created once at start in this order and
// kept until exit, so every window can reach the others.
#pragma once

namespace tsx {

class TForm1;
class TFormnew;
class TForm3;
class TForm4;
class TPrintform;
class TForm7;

extern TForm1* Form1;
extern TFormnew* Formnew;
extern TForm3* Form3;
extern TForm4* Form4;
extern TPrintform* Printform;
extern TForm7* Form7;

/// Creates the six windows in their order; the overview is shown at once.
void createForms();
/// Destroys them (the main window owns the others); for tests.
void destroyForms();

}  // namespace tsx
