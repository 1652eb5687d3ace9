-- The loops of object_calls.prg in Lua 5.4: lua5.4 object_calls.lua OP [COUNT]. Lua has no
-- threads: the workers loops run the workers one after the other.
local Counter = {}
Counter.__index = Counter
function Counter.new() return setmetatable({value = 0}, Counter) end
function Counter:bump() return 1 end

local op = arg[1]
local n = tonumber(arg[2] or "1000000")
local o = Counter.new()
local r
if op == "empty" then
  for i = 1, n do r = i end
elseif op == "call" then
  for i = 1, n do r = o:bump() end
elseif op == "read" then
  for i = 1, n do r = o.value end
elseif op == "write" then
  for i = 1, n do o.value = i end
elseif op == "add" or op == "additem" then
  local c = {}
  for i = 1, n do
    local key = "key" .. i
    if c[key] ~= nil then error("key exists") end
    c[key] = i
  end
  if op == "additem" then
    for i = 1, n do r = c["key" .. i] end
  end
elseif op:sub(1, 7) == "workers" then
  for _ = 1, tonumber(op:sub(8)) do
    local w = Counter.new()
    for _ = 1, n do w:bump() end
  end
end
