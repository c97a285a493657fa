#include "app/ui/forms.h"

#include "app/ui/form1.h"
#include "app/ui/form3.h"
#include "app/ui/form4.h"
#include "app/ui/form7.h"
#include "app/ui/printform.h"
#include "wizard/ui/formnew.h"

namespace tsx {

TForm1* Form1 = nullptr;
TFormnew* Formnew = nullptr;
TForm3* Form3 = nullptr;
TForm4* Form4 = nullptr;
TPrintform* Printform = nullptr;
TForm7* Form7 = nullptr;

void createForms()
{
    Form1 = new TForm1;
    Formnew = new TFormnew(Form1);
    Form3 = new TForm3(Form1);
    Form4 = new TForm4(Form1);
    Printform = new TPrintform(Form1);
    Form7 = new TForm7(Form1);
    Form3->showCentredOn(Form1->frameGeometry());
}

void destroyForms()
{
    delete Form1;  // owns the other five
    Form1 = nullptr;
    Formnew = nullptr;
    Form3 = nullptr;
    Form4 = nullptr;
    Printform = nullptr;
    Form7 = nullptr;
}

}  // namespace tsx
