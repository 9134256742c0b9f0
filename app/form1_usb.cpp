// The USB HID link: the option and discovery.
#include "Form1.h"
#include "ui_Form1.h"

#include "hidlink.h"
#include "messages.h"
#include "session.h"

bool Form1::FindTheHid()
{
    const bool found = m_usb->find();
    showLinkStatus();
    return found;
}

void Form1::Option4_Click()   // 内部USB(SPI)
{
    m_session->setCurrentLink(m_usb);
    showLinkStatus();
    tell(QString::number(maxTextBytes()) + Msg::shown(Msg::MaxTextNotice));
    FindTheHid();
}
