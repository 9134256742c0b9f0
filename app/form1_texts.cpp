// The texts that the send box can be filled with.
#include "Form1.h"
#include "ui_Form1.h"

#include "demotexts.h"

void Form1::Command31_Click()   // 载入--演示文本
{
    ui->Text3->clear();
    ui->Text3->setPlainText(demonstrationText());   // nothing selected afterwards
}

void Form1::Command32_Click()   // 载入----提示音
{
    ui->Text3->clear();
    ui->Text3->setPlainText(promptSoundCatalogue());
}
