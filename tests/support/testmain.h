#pragma once

#include <QByteArrayView>
#include <QMetaObject>
#include <QObject>
#include <QStringList>
#include <QTest>

#include <optional>

namespace veltra::test {

// One part of a program's test functions: the index-th of count.
struct Shard
{
    int index = 0;
    int count = 1;
};

// "k/N" with 0 <= k < N; nothing for anything else.
std::optional<Shard> parseShard(QByteArrayView text);

// The test functions of a test class, in the order Qt Test runs them: its private slots
// without arguments, less initTestCase, cleanupTestCase, init, cleanup and the _data tables.
QStringList testFunctions(const QMetaObject &meta);

// The functions of `shard`: every count-th from its index on, so that each function lands in
// exactly one part however many are added.
QStringList shardFunctions(const QStringList &functions, Shard shard);

// QTest::qExec, but with VELTRA_TEST_SHARD=k/N in the environment (CTest sets it for the
// programs it runs in parts) only the functions of that part run, after any the arguments
// name. A malformed value fails the run rather than run everything or nothing.
int execShard(QObject *testObject, int argc, char **argv);

} // namespace veltra::test

// QTEST_MAIN, running one part of the functions when CTest asks for it.
#define VELTRA_TEST_MAIN(TestObject)                                                               \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QT_PREPEND_NAMESPACE(QTest::Internal::callInitMain)<TestObject>();                         \
        QTEST_MAIN_SETUP()                                                                         \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return veltra::test::execShard(&tc, argc, argv);                                           \
    }
