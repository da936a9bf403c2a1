#include "app/MainLayout.h"

#include <array>
#include <stdexcept>

namespace app {

namespace {

using K = ControlKind;
using F = ButtonFace;

constexpr std::array<ControlLayout, 13> kMainControls{{
    {Control::img1, "img1", K::Background, {0, 0, kMainWidth, kMainHeight}, "", "", kWhite, true, F::Flat},
    {Control::lblHint, "lblHint", K::Label, {89, 253, 168, 14}, "选择保存数据备份的路径：", "", kWhite, true,
     F::Flat},
    {Control::Label1, "Label1", K::Label, {89, 215, 112, 14}, "数据库连接状态：", "", kWhite, true, F::Flat},
    {Control::lblContectedStatus, "lblContectedStatus", K::Label, {251, 215, 0, 14}, "", "", kLime, true,
     F::Flat},
    {Control::btnBeginBackup, "btnBeginBackup", K::PictureButton, {89, 337, 90, 26}, "", "", kWhite, true,
     F::Raised},
    {Control::btnTestContected, "btnTestContected", K::PictureButton, {379, 209, 90, 26}, "", "", kWhite,
     true, F::Flat},
    {Control::btnExit, "btnExit", K::PictureButton, {379, 337, 90, 26}, "", "", kWhite, true, F::Flat},
    {Control::btnSelect, "btnSelect", K::PictureButton, {379, 275, 90, 26}, "", "", kWhite, true, F::Flat},
    {Control::btnBeginRestore, "btnBeginRestore", K::PictureButton, {89, 337, 90, 26}, "", "", kWhite,
     false, F::Raised},
    {Control::fllst1, "fllst1", K::FileList, {96, 400, 57, 17}, "", "", kWhite, false, F::Flat},
    {Control::edtFile, "edtFile", K::Edit, {89, 278, 256, 21}, "", "", kWhite, true, F::Flat},
    {Control::rbBackup, "rbBackup", K::Radio, {89, 176, 154, 17}, "NorvaleV3.1备份",
     "NorvaleV3.1备份（Kingbase 4.1数据库）", kWhite, true, F::Flat},
    {Control::rbRestore, "rbRestore", K::Radio, {251, 176, 155, 17}, "NorvaleV4.0还原",
     "NorvaleV4.0还原（Kingbase 6.1数据库）", kWhite, true, F::Flat},
}};

constexpr std::array<ProgressControlLayout, 5> kProgressControls{{
    {ProgressControl::Panel1, "Panel1", {0, 0, kProgressWidth, kProgressHeight}, true},
    {ProgressControl::LabInfo, "LabInfo", {16, 29, 369, 16}, true},
    {ProgressControl::Gauge1, "Gauge1", {16, 51, 369, 23}, true},
    {ProgressControl::txt1, "txt1", {16, 87, 369, 16}, false},
    {ProgressControl::pbrDetail, "pbrDetail", {16, 109, 369, 23}, false},
}};

}  // namespace

std::span<const ControlLayout> MainControls() { return kMainControls; }

const ControlLayout& MainControl(Control id) {
  for (const auto& layout : kMainControls) {
    if (layout.id == id) return layout;
  }
  throw std::logic_error("unknown control");
}

std::span<const ProgressControlLayout> ProgressControls() { return kProgressControls; }

}  // namespace app
