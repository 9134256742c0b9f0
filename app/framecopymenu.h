#pragma once

class QPlainTextEdit;

// Adds "复制为 C 数组" and "复制为 Python bytes" to the context menu of the hexadecimal box: the
// bytes as typed (as 直接播放 reads them) go to the clipboard as source code, with what they
// decode to as a comment. Both entries are greyed out while the box does not parse.
void addFrameCopyEntries(QPlainTextEdit *hexBox);
