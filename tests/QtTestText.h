#pragma once

#include <QtTest>
#include <string>

#include "Settings.h"

// Readable failure output of QCOMPARE for the core's plain types.
namespace QTest {
template <>
inline char* toString(const std::string& s) {
    return QTest::toString(QString::fromStdString(s));
}
template <>
inline char* toString(const fbx::SerialCodes& c) {
    return qstrdup(QStringLiteral("{%1, %2, %3, %4, %5}")
                       .arg(c.portNumber)
                       .arg(c.baudCode)
                       .arg(c.parityCode)
                       .arg(c.dataBitsCode)
                       .arg(c.stopBitsCode)
                       .toUtf8()
                       .constData());
}
}  // namespace QTest
