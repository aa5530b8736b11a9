// Helpers for tests of real Qt widgets: finding a child by object name and
// acting on the next modal window from inside its loop.
#pragma once

#include <QApplication>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace dvl::test {

template <class T> T* Child(QWidget* parent, const char* name) {
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// Runs `act` on the next modal window once it is up. The pending timer holds
// the poll; the poll refers to itself weakly.
inline void WhenModal(std::function<void(QWidget*)> act) {
    auto poll = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> weak = poll;
    *poll = [act, weak] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            act(modal);
            return;
        }
        if (auto self = weak.lock()) QTimer::singleShot(10, [self] { (*self)(); });
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
}

} // namespace dvl::test
