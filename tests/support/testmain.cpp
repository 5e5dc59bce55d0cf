#include "testmain.h"

#include <QMetaMethod>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace veltra::test {

std::optional<Shard> parseShard(QByteArrayView text)
{
    const qsizetype slash = text.indexOf('/');
    if (slash < 0)
        return std::nullopt;
    // toInt() would take a sign and blanks too.
    const auto digitsOnly = [](QByteArrayView part) {
        return !part.isEmpty() &&
               std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const QByteArrayView index = text.first(slash), count = text.sliced(slash + 1);
    if (!digitsOnly(index) || !digitsOnly(count))
        return std::nullopt;
    bool indexOk = false, countOk = false;
    const Shard shard{index.toInt(&indexOk), count.toInt(&countOk)};
    if (!indexOk || !countOk || shard.count < 1 || shard.index >= shard.count)
        return std::nullopt;
    return shard;
}

QStringList testFunctions(const QMetaObject &meta)
{
    QStringList functions;
    for (int i = 0; i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.access() != QMetaMethod::Private || method.methodType() != QMetaMethod::Slot ||
            method.parameterCount() != 0 || method.returnMetaType() != QMetaType::fromType<void>())
            continue;
        const QByteArray name = method.name();
        if (name.endsWith("_data") || name == "initTestCase" || name == "cleanupTestCase" ||
            name == "init" || name == "cleanup")
            continue;
        functions << QString::fromLatin1(name);
    }
    return functions;
}

QStringList shardFunctions(const QStringList &functions, Shard shard)
{
    QStringList part;
    for (qsizetype i = shard.index; i < functions.size(); i += shard.count)
        part << functions[i];
    return part;
}

int execShard(QObject *testObject, int argc, char **argv)
{
    const QByteArray value = qgetenv("VELTRA_TEST_SHARD");
    if (value.isEmpty())
        return QTest::qExec(testObject, argc, argv);
    const std::optional<Shard> shard = parseShard(value);
    if (!shard) {
        std::fprintf(stderr, "VELTRA_TEST_SHARD=%s: expected k/N with 0 <= k < N\n",
                     value.constData());
        return 2;
    }
    const QStringList functions = shardFunctions(testFunctions(*testObject->metaObject()), *shard);
    // Qt Test runs every function when none is named: a part with none runs none.
    if (functions.isEmpty()) {
        std::printf("part %d of %d of %s: no test function\n", shard->index, shard->count,
                    testObject->metaObject()->className());
        return 0;
    }
    std::vector<QByteArray> names;
    names.reserve(std::size_t(functions.size()));
    std::vector<char *> arguments(argv, argv + argc);
    for (const QString &function : functions) {
        names.push_back(function.toLatin1());
        arguments.push_back(names.back().data());
    }
    const int count = int(arguments.size());
    arguments.push_back(nullptr);
    return QTest::qExec(testObject, count, arguments.data());
}

} // namespace veltra::test
