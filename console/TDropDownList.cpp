#include "console/TDropDownList.h"

namespace console {

void TDropDownList::showPopup() {
    if (m_onDropDown) m_onDropDown();
    QComboBox::showPopup();
}

}  // namespace console
