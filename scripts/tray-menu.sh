# Sourced by the screenshot scripts that work dial-service-tray.exe's menu
# with the pointer, under Xvfb where Wine shows the notification area in a
# small window of its own, "Wine System Tray", with the icon in its first slot.
#
#   tray_menu_items              the menu's items, top to bottom, as the tray makes them
#   tray_find_area          sets area (that window), its X Y WIDTH HEIGHT and the
#                           icon's place icon_x icon_y; fails when none appears
#   tray_open_menu          opens the icon's menu, sets MENU_X MENU_Y MENU_WIDTH MENU_HEIGHT
#   tray_item_point NAME    "x y", the middle of that item of the open menu
#   tray_click_item NAME    clicks that item of the open menu
#
# Keep the items in step with ShowMenu in service/tray/dial_service_tray_win.cpp:
# the items have one height, so an item's place follows from its position.
tray_menu_items=("Settings" "Dial" "Dial clipboard" "Hang up" "Recent numbers" "Open log" "Quit")

tray_find_area() {
  area=$(timeout 30 xdotool search --sync --onlyvisible --name '^Wine System Tray$' | head -n 1) || true
  [ -n "$area" ] || return 1
  eval "$(xdotool getwindowgeometry --shell "$area")"
  icon_x=$((X + 13)) icon_y=$((Y + HEIGHT - 13))
}

# The menu is a window without a name, small; it is looked for a few times.
tray_open_menu() {
  local attempt candidate geometry
  for attempt in 1 2 3; do
    xdotool mousemove "$icon_x" "$icon_y" click 3
    sleep 1.5
    for candidate in $(xdotool search --onlyvisible --name '^$' 2>/dev/null); do
      geometry=$(xdotool getwindowgeometry --shell "$candidate")
      eval "$(echo "$geometry" | sed 's/^/MENU_/')"
      if [ "$MENU_WIDTH" -lt 400 ] && [ "$MENU_HEIGHT" -lt 400 ]; then
        return 0
      fi
    done
  done
  return 1
}

tray_item_point() {
  local i
  for i in "${!tray_menu_items[@]}"; do
    if [ "${tray_menu_items[$i]}" = "$1" ]; then
      echo "$((MENU_X + MENU_WIDTH / 2)) $((MENU_Y + MENU_HEIGHT * (2 * i + 1) / (2 * ${#tray_menu_items[@]})))"
      return 0
    fi
  done
  echo "tray-menu: no item $1" >&2
  return 1
}

# A click on an item; the pointer is moved there twice first, as Wine's menu
# takes a click only on an item it has seen the pointer enter.
tray_click_item() {
  local point x y
  point=$(tray_item_point "$1") || return 1
  read -r x y <<<"$point"
  xdotool mousemove "$x" "$y"
  sleep 0.5
  xdotool mousemove $((x + 1)) "$y"
  sleep 0.3
  xdotool click 1
}
