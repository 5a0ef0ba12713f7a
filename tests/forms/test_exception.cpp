#include "formsfixture.h"

namespace tvformstest {
namespace {

class ExceptionDialog : public FormsTest {};

TEST_F(ExceptionDialog, StartsFolded) {
    EXPECT_EQ(frmException->OuterHeight(), TfrmException::kFoldedHeight);
    EXPECT_EQ(frmException->btnDetails->text(), "&Details >>");
}

} // namespace
} // namespace tvformstest
