#include "app/menutable.h"

#include "app/mdiform1.h"

const MenuItemDef kMenuItems[] = {
    {"File", u"&File", "", nullptr, nullptr},
    {"New", u"&New", "Ctrl+N", "File", nullptr},
    {"Open", u"&Open", "Ctrl+O", "File", &MDIForm1::Open_Click},
    {"yuyu", u"-", "", "File", nullptr},
    {"Save", u"&Save", "Ctrl+S", "File", &MDIForm1::Save_Click},
    {"Save_As", u"Save &As", "Ctrl+A", "File", nullptr},
    {"Translation", u"&Translation", "", nullptr, nullptr},
    {"Rotate", u"&Rotate", "", "Translation", nullptr},
    {"Rotate90", u"90'Rotate(&P)", "Ctrl+P", "Rotate", nullptr},
    {"Rotate180", u"180'Rotate(&M)", "Ctrl+M", "Rotate", nullptr},
    {"tyt", u"-", "", "Translation", nullptr},
    {"Auto_Play", u"&Auto Play", "Ctrl+X", "Translation", &MDIForm1::Auto_Play_Click},
    {"Stop_AutoPlay", u"&Stop Auto Play", "Ctrl+Y", "Translation", &MDIForm1::Stop_AutoPlay_Click},
    {"View", u"&View", "", nullptr, nullptr},
    {"Zoom_In", u"Zoom &In", "Ctrl+I", "View", &MDIForm1::Zoom_In_Click},
    {"Zoom_Out", u"Zoom &Out", "Ctrl+T", "View", &MDIForm1::Zoom_Out_Click},
    {"hgh", u"-", "", "View", nullptr},
    {"Next_picture", u"&Next Picture", "F1", "View", &MDIForm1::Next_picture_Click},
    {"precursive_picture", u"&Precursive Picture", "F2", "View", &MDIForm1::precursive_picture_Click},
    {"spep", u"-", "", "View", nullptr},
    {"Go_to_First", u"Go to First", "F3", "View", &MDIForm1::Go_to_First_Click},
    {"Go_to_Last", u"Go to last", "F4", "View", &MDIForm1::Go_to_Last_Click},
    {"Help", u"&Help", "", nullptr, nullptr},
    {"AboutImage", u"About Vellupix", "Ctrl+V", "Help", &MDIForm1::AboutImage_Click},
    {"Content", u"&Content", "Ctrl+C", "Help", nullptr},
    {"Exit", u"&Exit", "", nullptr, &MDIForm1::Exit_Click},
};
const int kMenuItemCount = int(sizeof kMenuItems / sizeof kMenuItems[0]);

namespace {
constexpr ToolbarButtonDef separator{ButtonStyle::Separator, 0, "", "", nullptr};
}

const ToolbarButtonDef kToolbarButtons[kToolbarButtonCount] = {
    {ButtonStyle::Push, 1, "Open a new file", "Open", &MDIForm1::Open_Click},
    separator,
    {ButtonStyle::Push, 2, "Save the current file", "Save", &MDIForm1::Save_Click},
    separator,
    separator,
    {ButtonStyle::Push, 3, "GO to the first picture", "Go to First", &MDIForm1::Go_to_First_Click},
    separator,
    {ButtonStyle::Push, 4, "Go to the next picture", "Previous Picture", &MDIForm1::precursive_picture_Click},
    separator,
    {ButtonStyle::Push, 5, "Go to the next picture", "Next Picture", &MDIForm1::Next_picture_Click},
    separator,
    {ButtonStyle::Push, 6, "Go to the last picture", "Go to Last", &MDIForm1::Go_to_Last_Click},
    separator,
    separator,
    {ButtonStyle::Push, 7, "Delete the current picture", "Delete", nullptr},
    separator,
    {ButtonStyle::Push, 8, "Print the current picture", "Print", nullptr},
    {ButtonStyle::Placeholder, 0, "", "", nullptr},
    {ButtonStyle::Check, 9, "Start the Auto Mode", "Auto Play", &MDIForm1::Auto_Play_Click},
    separator,
    {ButtonStyle::Check, 10, "Stop the Auto Mode", "Stop Auto Play", &MDIForm1::Stop_AutoPlay_Click},
    separator,
    {ButtonStyle::Push, 11, "Magnify the current picture", "Zoom In", &MDIForm1::Zoom_In_Click},
    separator,
    {ButtonStyle::Push, 12, "Shrink the current picture", "Zoom Out", &MDIForm1::Zoom_Out_Click},
    separator,
    {ButtonStyle::Check, 13, "About some question", "About", nullptr},
    separator,
    {ButtonStyle::Push, 14, "Exit the Velupix", "Exit", &MDIForm1::Exit_Click},
};
