#include "app/ui/forms.h"

#include "app/ui/form1.h"
#include "app/ui/form3.h"

namespace tsx {

std::unique_ptr<TForm1> createForms(Session& session)
{
    auto main = std::make_unique<TForm1>(session);
    main->Form3->showCentredOn(main->frameGeometry());
    return main;
}

}  // namespace tsx
