def main():
    s = ""
    for i in range(1, 300001):
        s += "ab"
        s += str(i)
    n = 0
    for c in s:
        if c == "1":
            n = n + 1
    print(len(s))
    print(n)


main()
