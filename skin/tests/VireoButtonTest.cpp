#include <gtest/gtest.h>

#include <QDialog>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include "ResourceIds.h"
#include "TestApp.h"
#include "VireoButton.h"

namespace {

// A button in an active window, with distinct normal and hover images so the swap shows.
class VireoButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_window.resize(200, 100);
        m_other = new QLineEdit(&m_window);
        m_other->setGeometry(100, 10, 80, 20);
        m_button = new CVireoButton("Exit", &m_window);
        m_button->setGeometry(10, 10, 20, 20);
        m_button->SetBitmaps(IDB_BTN_EXIT, IDB_BTN_MINIMIZE, IDB_BTN_BROWSE, 20, 20);
        m_window.show();
        m_window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
    }

    void TearDown() override {
        if (QWidget::mouseGrabber()) QWidget::mouseGrabber()->releaseMouse();
    }

    // Moves arrive at the grabbing widget, so they are delivered to the button directly.
    void Move(QPoint local) {
        QMouseEvent move(QEvent::MouseMove, local, m_button->mapToGlobal(local), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(m_button, &move);
    }

    QApplication& m_app = TestApp();  // before any widget
    QDialog m_window;
    QLineEdit* m_other = nullptr;
    CVireoButton* m_button = nullptr;
};

TEST_F(VireoButtonTest, SetBitmapsShowsTheNormalImageAtTheGivenSize) {
    EXPECT_EQ(m_button->ShownImageId(), IDB_BTN_EXIT);
    EXPECT_EQ(m_button->PressedImageId(), IDB_BTN_BROWSE);
    EXPECT_EQ(m_button->ImageSize(), QSize(20, 20));
    EXPECT_EQ(m_button->HotRect(), QRect(0, 0, 20, 20));
    EXPECT_FALSE(m_button->IsHovering());
    CVireoButton fresh;
    EXPECT_EQ(fresh.ImageSize(), QSize(15, 15));
}

TEST_F(VireoButtonTest, HoverSwapsTheImageAndHoldsTheGrabUntilTheMouseLeaves) {
    Move(QPoint(5, 5));
    EXPECT_TRUE(m_button->IsHovering());
    EXPECT_EQ(m_button->ShownImageId(), IDB_BTN_MINIMIZE);
    EXPECT_EQ(QWidget::mouseGrabber(), m_button);

    Move(QPoint(15, 12));
    EXPECT_TRUE(m_button->IsHovering());
    EXPECT_EQ(m_button->ShownImageId(), IDB_BTN_MINIMIZE);
    EXPECT_EQ(QWidget::mouseGrabber(), m_button);

    Move(QPoint(25, 5));
    EXPECT_FALSE(m_button->IsHovering());
    EXPECT_EQ(m_button->ShownImageId(), IDB_BTN_EXIT);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);

    // Without a pointer grab (Wayland) the leave event ends the hover.
    Move(QPoint(5, 5));
    ASSERT_TRUE(m_button->IsHovering());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(m_button, &leave);
    EXPECT_FALSE(m_button->IsHovering());
    EXPECT_EQ(m_button->ShownImageId(), IDB_BTN_EXIT);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);

    // Another widget holding the grab keeps the button cold.
    m_other->grabMouse();
    Move(QPoint(5, 5));
    EXPECT_FALSE(m_button->IsHovering());
    m_other->releaseMouse();
}

TEST_F(VireoButtonTest, LeavingWithTheFocusTakesTheFocusAway) {
    m_button->setFocus();
    ASSERT_TRUE(m_button->hasFocus());
    Move(QPoint(5, 5));
    ASSERT_TRUE(m_button->IsHovering());
    Move(QPoint(-3, 5));
    EXPECT_FALSE(m_button->hasFocus());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

TEST_F(VireoButtonTest, FocusChangesEndTheHoverState) {
    Move(QPoint(5, 5));
    ASSERT_TRUE(m_button->IsHovering());
    // Gaining the focus clears the flag only; the image stays until the next move.
    m_button->setFocus();
    EXPECT_FALSE(m_button->IsHovering());
    EXPECT_EQ(m_button->ShownImageId(), IDB_BTN_MINIMIZE);
    Move(QPoint(6, 6));
    EXPECT_TRUE(m_button->IsHovering());
    // Losing it ends the hover state completely.
    m_other->setFocus();
    EXPECT_FALSE(m_button->IsHovering());
    EXPECT_EQ(m_button->ShownImageId(), IDB_BTN_EXIT);
    EXPECT_NE(QWidget::mouseGrabber(), m_button);
}

TEST_F(VireoButtonTest, AClickWhileHoveringReleasesTheGrabBeforeItIsReported) {
    QSignalSpy clicks(m_button, &QAbstractButton::clicked);
    QWidget* grabberAtClick = m_button;
    QObject::connect(m_button, &QAbstractButton::clicked,
                     [&] { grabberAtClick = QWidget::mouseGrabber(); });
    Move(QPoint(5, 5));
    ASSERT_EQ(QWidget::mouseGrabber(), m_button);
    QTest::mouseClick(m_button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(grabberAtClick, nullptr);
    EXPECT_FALSE(m_button->IsHovering());
}

}  // namespace
