def main():
    m = {}
    for i in range(1, 40001):
        m[i] = i % 2000
    s = 0
    for i in range(1, 1000001):
        s = s + m.get(i % 40000 + 1)
    print(s)


main()
