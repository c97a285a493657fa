#include "app/ui/forms.h"

#include "app/ui/form1.h"
#include "app/ui/form3.h"
#include "app/ui/outside_files.h"

namespace tsx {

std::unique_ptr<TForm1> createForms(Session& session)
{
    auto main = std::make_unique<TForm1>(session);
    acceptFileDrops(*main);
    main->Form3->showCentredOn(main->frameGeometry());
    return main;
}

}  // namespace tsx
