#include "record/SessionFolder.h"
#include "serial/ServicePaths.h"
#include "support/ScopedVariable.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qx200::record {
namespace {

using namespace std::chrono;

const QByteArray Empty;

struct FolderExample {
    const char* xdgStateHome;
    const char* folder;
};
constexpr FolderExample FolderExamples[] = {
    {"/var/state", "/var/state/qx200-control/sessions"},
    {"/var/state/", "/var/state/qx200-control/sessions"},
    {"", "/home/op/.local/state/qx200-control/sessions"},
    {"relative/state", "/home/op/.local/state/qx200-control/sessions"},
};

TEST(SessionFolder, StateHomeWhenAbsoluteElseTheUsualPlaceInHome)
{
    for (const FolderExample& example : FolderExamples)
        EXPECT_EQ(sessionFolder(QString::fromLatin1(example.xdgStateHome), "/home/op"),
                  QString::fromLatin1(example.folder))
            << example.xdgStateHome;
}

// Without HOME the account's home from the password database; never the root folder.
TEST(SessionFolder, WithoutAHomeVariableTheAccountsHomeOrNothing)
{
    EXPECT_EQ(sessionFolder("", ""), QString());
    EXPECT_EQ(sessionFolder("/var/state", ""), QStringLiteral("/var/state/qx200-control/sessions"));
    for (const QByteArray* home : {static_cast<const QByteArray*>(nullptr), &Empty}) {
        const testing::ScopedVariable unset("HOME", home);
        const QString found = accountHome();
        EXPECT_TRUE(found.isEmpty() || (QDir::isAbsolutePath(found) && found != "/"))
            << found.toStdString();
        EXPECT_FALSE(sessionFolder("", found).startsWith("/.local")) << found.toStdString();
        const testing::ScopedVariable noXdg("XDG_STATE_HOME", nullptr);
        const testing::ScopedVariable noSystemd("STATE_DIRECTORY", nullptr);
        EXPECT_FALSE(serviceStateDirectory().startsWith("/.local")) << "the service's records";
    }
}

TEST(SessionFolder, FilesAreNamedByTheirStartAndSortByIt)
{
    const Time start = sys_days(2026y / December / 8) + 9h + 14min + 3s + 123456us;
    EXPECT_EQ(sessionFileName(start), "2026-12-08T09-14-03.123456Z.tsv");
    EXPECT_LT(sessionFileName(start), sessionFileName(start + 1us));
    EXPECT_LT(sessionFileName(start), sessionFileName(start + 24h));
    EXPECT_TRUE(isSessionFileName(sessionFileName(start)));
    for (const char* other :
         {"notes.txt", "2026-12-08T09-14-03Z.tsv", "2026-12-08T09-14-03.123456Z.tsv~",
          "x2026-12-08T09-14-03.123456Z.tsv"})
        EXPECT_FALSE(isSessionFileName(QString::fromLatin1(other))) << other;
}

struct BoundExample {
    const char* name;
    std::vector<SessionFile> files;
    QString current;
    qint64 bound;
    QStringList removed;
};

const BoundExample BoundExamples[] = {
    {"under the bound nothing goes", {{"a", 10}, {"b", 10}, {"c", 10}}, "c", 30, {}},
    {"the oldest go first, by name",
     {{"c", 10}, {"a", 10}, {"b", 10}, {"d", 10}},
     "d",
     25,
     {"a", "b"}},
    {"many small ones give way to a large one",
     {{"a", 4}, {"b", 4}, {"c", 4}, {"d", 4}, {"e", 4}, {"f", 60}, {"g", 1}},
     "g",
     70,
     {"a", "b", "c"}},
    {"the current one stays even when it alone is over",
     {{"a", 5}, {"b", 200}, {"c", 5}},
     "b",
     100,
     {"a", "c"}},
    {"an older current one is passed over", {{"a", 50}, {"b", 50}, {"c", 50}}, "a", 100, {"b"}},
};

TEST(SessionFolder, OldestSessionsGoUntilTheRestFit)
{
    for (const BoundExample& example : BoundExamples)
        EXPECT_EQ(sessionsToRemove(example.files, example.current, example.bound), example.removed)
            << example.name;
}

TEST(SessionFolder, ManySmallSessionsAndALargeOneStayUnderTheBoundOnDisk)
{
    QTemporaryDir dir;
    const auto write = [&](const QString& name, qint64 size) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'x'));
    };
    const Time start = sys_days(2026y / December / 8) + 9h;
    QStringList names;
    for (int i = 0; i < 40; ++i)
        names << sessionFileName(start + minutes(i));
    for (int i = 0; i < 39; ++i)
        write(names[i], i == 20 ? 30'000 : 1'000); // session 20 is a large one
    write(names[39], 500);                         // the current session
    write("notes.txt", 50'000);                    // not a session: never counted or removed

    boundSessionFolder(dir.path(), names[39], 20'000);

    const QStringList left = QDir(dir.path()).entryList({"*.tsv"}, QDir::Files, QDir::Name);
    qint64 total = 0;
    for (const QString& name : left)
        total += QFileInfo(dir.filePath(name)).size();
    EXPECT_LE(total, 20'000);
    ASSERT_FALSE(left.isEmpty());
    EXPECT_EQ(left.back(), names[39]);
    // What is left is the newest run of sessions: everything older than the oldest kept is gone.
    EXPECT_EQ(left, names.mid(names.size() - left.size()));
    EXPECT_TRUE(QFile::exists(dir.filePath("notes.txt")));
}

// The service keeps a file per UTC day; its folder is bounded the same way, counting day files.
TEST(SessionFolder, DayFilesAreNamedByTheirUtcDayAndBoundedAlike)
{
    const Time day = sys_days(2026y / December / 8);
    EXPECT_EQ(dayFileName(day + 23h + 59min), "2026-12-08.tsv");
    EXPECT_EQ(dayFileName(day + 24h), "2026-12-09.tsv");
    EXPECT_TRUE(isDayFileName("2026-12-08.tsv"));
    EXPECT_FALSE(isDayFileName(sessionFileName(day)));

    QTemporaryDir dir;
    QStringList days;
    for (int i = 0; i < 5; ++i) {
        days << dayFileName(day + i * 24h);
        QFile file(dir.filePath(days.back()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(1'000, 'x'));
    }
    QFile other(dir.filePath(sessionFileName(day))); // not a day file: left alone
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write(QByteArray(1'000, 'x'));
    other.close();

    boundSessionFolder(dir.path(), days.back(), 2'500, isDayFileName);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
              QStringList({sessionFileName(day)}) + days.mid(3));
}

} // namespace
} // namespace qx200::record
