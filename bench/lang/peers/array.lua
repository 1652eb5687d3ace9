local n = tonumber(arg[1])
local a = {}
for i = 1, n do a[i] = i end
local s = 0
for i = 1, n do s = s + a[i] end
print(s)
