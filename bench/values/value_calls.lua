-- The loops of value_calls.prg in Lua 5.4: lua5.4 value_calls.lua OP [COUNT]. Lua has no
-- character-set conversion: its cpconvert loop maps the bytes through a table of UTF-8 texts.
local op = arg[1]
local n = tonumber(arg[2] or "1000000")
local x = 12345.6789
local t = os.time({year = 2024, month = 3, day = 5, hour = 6, min = 7, sec = 8})
local s = string.rep("\130abcd", 6)
local r
if op == "empty" then
  for _ = 1, n do r = x end
elseif op == "round" then
  for _ = 1, n do r = math.floor(x * 100 + 0.5) / 100 end
elseif op == "mod" then
  for i = 1, n do r = i % 7 end
elseif op == "bitand" then
  for i = 1, n do r = i & 255 end
elseif op == "rand" then
  for _ = 1, n do r = math.random() end
elseif op == "dtoc" then
  for _ = 1, n do r = os.date("%m/%d/%y", t) end
elseif op == "ttoc" then
  for _ = 1, n do r = os.date("%m/%d/%y, %I:%M:%S %p", t) end
elseif op == "cpconvert" then
  local map = {}
  for b = 0, 127 do map[string.char(b)] = string.char(b) end
  map["\130"] = "\195\169"
  for _ = 1, n do r = s:gsub(".", map) end
else
  print("unknown operation", op)
end
