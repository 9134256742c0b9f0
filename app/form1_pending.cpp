// Handlers whose subsystems are not wired yet.
#include "Form1.h"
#include "codetable.h"

void Form1::setupLinks() {}
void Form1::stopTools() {}
void Form1::sendOverUsb(const QByteArray &) {}
bool Form1::FindTheHid() { return false; }
bool Form1::HidFound() const { return false; }
bool Form1::HidLinked() const { return false; }
void Form1::Option4_Click() {}
void Form1::Timer2_Timer() {}
void Form1::onUsbAnswer(quint8) {}
void Form1::usbContinuousStep() {}
void Form1::Combo5_Click() {}
void Form1::Command6_Click() {}
bool Form1::takeSelectionToSend(QString *) { return false; }
const CodeTable *Form1::codeTable() { return nullptr; }
void Form1::HScroll1_Change() {}
void Form1::HScroll2_Change() {}
void Form1::HScroll3_Change() {}
void Form1::scrollChanged(char, int) {}
void Form1::Combo4_Click(int) {}
void Form1::Command34_Click() {}
void Form1::Command31_Click() {}
void Form1::Command32_Click() {}
void Form1::Command10_Click() {}
void Form1::Command13_Click() {}
void Form1::Command29_Click() {}
void Form1::Command30_Click() {}
bool Form1::parseEditorText(bool) { return false; }
void Form1::Command3_Click() {}
void Form1::Timer1_Timer() {}
void Form1::Text2_Change() {}
void Form1::Command14_Click() {}
