// veltra-cli.exe leaves the console's output code page as it found it, on every way out.
// Needs a console of its own: tests/CMakeLists.txt runs it under script(1), whose
// pseudo-terminal Wine turns into one.

#include <QTest>

#include <qt_windows.h>

#include <string>

class TestConsoleCodePage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void codePageIsRestored_data();
    void codePageIsRestored();
    void cleanupTestCase();

private:
    UINT m_found = 0;
};

void TestConsoleCodePage::initTestCase()
{
    m_found = GetConsoleOutputCP();
    QVERIFY2(m_found != 0, "no console: run this test through script(1)");
}

void TestConsoleCodePage::codePageIsRestored_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("success") << QStringList{"--version"} << 0;
    QTest::newRow("usage error") << QStringList{"no-such-command"} << 2;
    QTest::newRow("port unusable") << QStringList{"read", "--port", "COM77"} << 5;
}

void TestConsoleCodePage::codePageIsRestored()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    // Japanese Windows' own: what a user's console most likely has.
    QVERIFY(SetConsoleOutputCP(932));
    // In this console: a process of its own (QProcess would give it a hidden one).
    std::wstring commandLine = QStringLiteral("%1 %2")
                                   .arg(QStringLiteral(VELTRA_CLI), arguments.join(u' '))
                                   .toStdWString();
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    QVERIFY(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, &startup, &process));
    const DWORD waited = WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    QCOMPARE(waited, DWORD(WAIT_OBJECT_0));
    QCOMPARE(int(code), exitCode);
    QCOMPARE(GetConsoleOutputCP(), UINT(932));
}

void TestConsoleCodePage::cleanupTestCase()
{
    if (m_found != 0)
        SetConsoleOutputCP(m_found);
}

QTEST_GUILESS_MAIN(TestConsoleCodePage)
#include "tst_consolecodepage.moc"
