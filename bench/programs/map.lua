local m = {}
for i = 1, 40000 do m[i] = i % 2000 end
local s = 0
for i = 1, 1000000 do s = s + m[i % 40000 + 1] end
print(s)
