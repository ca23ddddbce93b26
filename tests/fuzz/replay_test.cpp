// SPDX-License-Identifier: GPL-3.0-or-later
#include "harnesses.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>

namespace {

class FuzzCorpus : public ::testing::TestWithParam<FuzzTarget> {};

} // namespace

// A target is shown by its name in the test's listing (not as raw bytes).
void PrintTo(const FuzzTarget &target, std::ostream *os)
{
    *os << target.name;
}

namespace {

TEST_P(FuzzCorpus, EveryKeptInputRunsThrough)
{
    const FuzzTarget target = GetParam();
    QDirIterator it(QStringLiteral(SONDREL_FUZZ_CORPUS "/") + QLatin1String(target.name), QDir::Files);
    int inputs = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        const QByteArray bytes = file.readAll();
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(target.run(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())), 0);
        ++inputs;
    }
    EXPECT_GT(inputs, 0) << "no seeds for " << target.name;
}

std::vector<FuzzTarget> targets()
{
    std::vector<FuzzTarget> all;
    for (const FuzzTarget *t = FuzzTargets; t->name; ++t)
        all.push_back(*t);
    return all;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzCorpus, ::testing::ValuesIn(targets()),
                         [](const ::testing::TestParamInfo<FuzzTarget> &param) {
                             return std::string(param.param.name);
                         });

} // namespace
