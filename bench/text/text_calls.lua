-- The loops of text_calls.prg in Lua 5.4: lua5.4 text_calls.lua OP [COUNT].
-- Lua strings are bytes: the UTF-8 forms find character positions with the utf8 library, and
-- string.upper changes ASCII letters only. Lua has no digest: "hash" is not measured here.
local op = arg[1]
local n = tonumber(arg[2] or "1000000")
local s = "   Lorem ipsum dolor sit am   "
local utf8_text = false
if op:sub(-5) == "_utf8" then
  s = "   Lörem ípsüm dolör sít äm   "
  op = op:sub(1, -6)
  utf8_text = true
end
if op:sub(-6) == "_ascii" then op = op:sub(1, -7) end
local t100 = string.rep("banana ", 14) .. "xy"
local x = 12345.678
local r

local function substr(text, start, count)
  if not utf8_text then return text:sub(start, start + count - 1) end
  local b = utf8.offset(text, start)
  local e = utf8.offset(text, start + count)
  return text:sub(b, e - 1)
end

local function at(needle, text)
  local b = text:find(needle, 1, true)
  if not b then return 0 end
  if utf8_text then return utf8.len(text, 1, b) end
  return b
end

local function padl(text, width, filler)
  local len = utf8_text and utf8.len(text) or #text
  if len >= width then return substr(text, 1, width) end
  return string.rep(filler, width - len) .. text
end

-- "999,999,999": digits grouped by three, right-aligned in 11 characters.
local function transform(value)
  local digits = tostring(math.abs(value))
  local grouped = digits:reverse():gsub("(%d%d%d)", "%1,"):reverse():gsub("^,", "")
  if value < 0 then grouped = "-" .. grouped end
  return string.rep(" ", 11 - #grouped) .. grouped
end

if op == "empty" then
  for i = 1, n do r = s end
elseif op == "substr" then
  for i = 1, n do r = substr(s, 5, 10) end
elseif op == "at" then
  for i = 1, n do r = at("am", s) end
elseif op == "alltrim" then
  for i = 1, n do r = s:match("^%s*(.-)%s*$") end
elseif op == "strtran" then
  for i = 1, n do r = s:gsub("o", "0!") end
elseif op == "padl" then
  for i = 1, n do r = padl(s, 40, "*") end
elseif op == "upper" then
  for i = 1, n do r = s:upper() end
elseif op == "str" then
  for i = 1, n do r = string.format("%12.2f", x) end
elseif op == "transform" then
  for i = 1, n do r = transform(1234567) end
elseif op == "val" then
  for i = 1, n do r = tonumber(("  12345.678"):match("^%s*(-?%d*%.?%d*)")) end
elseif op == "ureplace" then
  for i = 1, n do r = t100:gsub("(an)", "[%1]") end
else
  print("unknown operation", op)
end
