#pragma once

#include "support/AnsweringServices.h"
#include "support/LoopbackReceivers.h"
#include "support/TestEnvironment.h"
#include "window/FocusLineEdit.h"
#include "window/MessageSourceControls.h"
#include "window/Quillon.h"
#include "window/SettingsStore.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
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

    static QSettings Opened() { return {SettingsStore::StoreFileName(), QSettings::IniFormat}; }

    static void ClearStore()
    {
        const QString file = SettingsStore::StoreFileName();
        QDir(file).removeRecursively();
        // Cleared through QSettings too, so that its cache forgets the keys.
        Opened().clear();
        QFile::remove(file);
    }

    static void Store(std::initializer_list<std::pair<QString, QString>> values)
    {
        QSettings store = Opened();
        for (const auto &[key, text] : values)
            store.setValue("Settings/" + key, text);
    }
    static QVariant Stored(const QString &key) { return Opened().value("Settings/" + key); }

    // Created and loaded as the program does; shown only when asked.
    Quillon &Load(bool show = false)
    {
        window.reset();
        window = std::make_unique<Quillon>(services.Get());
        window->Form_Load();
        if (show) {
            window->show();
            window->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        }
        return *window;
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
