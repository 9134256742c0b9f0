#pragma once

#include <QString>

// Text boxes hold one separator per line break; the chip, the files and every byte count see a
// line break as CR LF. These convert between the two forms.

// Widget text to the CR LF form: every "\n" (and a paragraph separator) becomes "\r\n".
QString toCrLf(const QString &widgetText);

// CR LF form (or lone CR or LF) to widget text with "\n" only.
QString fromCrLf(const QString &text);
