// The form's icon: a blue arrow pointing downwards, 32 x 32 pixels in the
// 16-colour palette, with a transparent background.
#pragma once

namespace fl::posix::gtk {

// XPM: width, height, colours, characters per pixel; then the palette, then
// the pixels.
inline const char* const kDownArrowIcon[] = {
    "32 32 17 1",
    "  c None",
    "k c #000000",
    "r c #800000",
    "g c #008000",
    "y c #808000",
    "n c #000080",
    "m c #800080",
    "c c #008080",
    "s c #C0C0C0",
    "d c #808080",
    "R c #FF0000",
    "G c #00FF00",
    "Y c #FFFF00",
    "b c #0000FF",
    "M c #FF00FF",
    "l c #00FFFF",
    "w c #FFFFFF",
    "                                ",
    "                                ",
    "          nnnnnnnnnnnn          ",
    "          nlbbbbbbbbbn          ",
    "          nlbbbbbbbbbn          ",
    "          nlbbbbbbbbbn          ",
    "          nlbbbbbbbbbn          ",
    "          nlbbbbbbbbbn          ",
    "          nlbbbbbbbbbn          ",
    "          nlbbbbbbbbbn          ",
    "          nlbbbbbbbbbn          ",
    "          nlbbbbbbbbbn          ",
    "          nlbbbbbbbbbn          ",
    "          nlbbbbbbbbbn          ",
    "          nlbbbbbbbbbn          ",
    "          nlbbbbbbbbbn          ",
    "  nbbbbbbbbbbbbbbbbbbbbbbbbbbn  ",
    "   nbbbbbbbbbbbbbbbbbbbbbbbbn   ",
    "    nbbbbbbbbbbbbbbbbbbbbbbn    ",
    "     nbbbbbbbbbbbbbbbbbbbbn     ",
    "      nbbbbbbbbbbbbbbbbbbn      ",
    "       nbbbbbbbbbbbbbbbbn       ",
    "        nbbbbbbbbbbbbbbn        ",
    "         nbbbbbbbbbbbbn         ",
    "          nbbbbbbbbbbn          ",
    "           nbbbbbbbbn           ",
    "            nbbbbbbn            ",
    "             nbbbbn             ",
    "              nbbn              ",
    "                                ",
    "                                ",
    "                                ",
};

}  // namespace fl::posix::gtk
