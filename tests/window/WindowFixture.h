#pragma once

#include "support/AnsweringServices.h"
#include "support/TestEnvironment.h"
#include "window/FocusLineEdit.h"
#include "window/Quillon.h"
#include "window/SettingsStore.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

// Every test starts from an empty store and builds its own window.
class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override { ClearStore(); }
    void TearDown() override
    {
        window.reset();
        ClearStore();
    }

    static void ClearStore()
    {
        const QString file = SettingsStore::StoreFileName();
        if (QFileInfo(file).isDir())
            QDir(file).removeRecursively();
        {
            QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Wren Quillon"));
            store.clear();
            store.sync();
        }
        QFile::remove(file);
    }

    static void Store(const QString &key, const QString &text)
    {
        QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Wren Quillon"));
        store.setValue(QStringLiteral("Settings/") + key, text);
    }

    static QVariant Stored(const QString &key)
    {
        QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Wren Quillon"));
        store.beginGroup(QStringLiteral("Settings"));
        return store.value(key);
    }

    // Created and loaded as the program does, but not shown.
    Quillon &Load()
    {
        window.reset();
        window = std::make_unique<Quillon>(services.Get());
        window->Form_Load();
        return *window;
    }

    Quillon &LoadAndShow()
    {
        Quillon &w = Load();
        w.show();
        w.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
        return w;
    }

    // A pick from the drop-down with the mouse, as the user makes it.
    static void Pick(QComboBox *list, int index)
    {
        list->showPopup();
        QAbstractItemView *view = list->view();
        ASSERT_TRUE(WaitUntil([view] { return view->isVisible(); }));
        const QRect item = view->visualRect(view->model()->index(index, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
        ASSERT_TRUE(WaitUntil([view] { return !view->isVisible(); }));
    }

    AnsweringServices services;
    std::unique_ptr<Quillon> window;
};
